// Every fixed text z18fsck prints, in one place.
#pragma once

namespace z18::fsck::texts {

constexpr char USAGE[] =
    "Usage: z18fsck [-x DIR] [-o NEW.z18] IMAGE\n"
    "  z18fsck IMAGE              check IMAGE and report, change nothing\n"
    "  z18fsck -x DIR IMAGE       also extract every file that can be read into DIR (new or empty)\n"
    "  z18fsck -o NEW.z18 IMAGE   also write a repaired copy of IMAGE to NEW.z18 (must not exist)\n"
    "IMAGE is only ever read. Exit status: 0 clean, 1 problems found (and handled), 2 failure.\n";
constexpr char VERSION[] = "z18fsck v1.2\n";

// Failures that end a run with status 2.
constexpr char CANNOT_OPEN[] = "cannot open image ";
constexpr char CANNOT_READ[] = "cannot read image ";
constexpr char DIR_NOT_EMPTY[] = "salvage folder is not empty or not a folder: ";
constexpr char DIR_CANNOT_MAKE[] = "cannot make salvage folder ";
constexpr char NEW_EXISTS[] = "will not replace existing ";
constexpr char NEW_CANNOT_MAKE[] = "cannot create ";
constexpr char NEW_CANNOT_WRITE[] = "cannot write ";
constexpr char NEW_CANNOT_NAME[] = "cannot give the repaired image its name; it is left as ";
constexpr char FILE_CANNOT_WRITE[] = "cannot write ";
constexpr char REPORT_CANNOT_WRITE[] = "cannot write the report ";

// The check.
constexpr char CHECKING[] = "Checking ";
constexpr char IMAGE_WORD[] = "image";
constexpr char ENTRY_WORD[] = "entry ";
constexpr char USER_WORD[] = " user ";
constexpr char REPAIR_WORD[] = "; repair: ";
constexpr char SUMMARY_FILES[] = " file(s), ";
constexpr char SUMMARY_ENTRIES[] = " of 64 entries used, ";
constexpr char SUMMARY_USED[] = " blocks used, ";
constexpr char SUMMARY_FREE[] = " free, ";
constexpr char SUMMARY_PROBLEMS[] = " problem(s)\n";

// Problems and what a repair does about them.
constexpr char BAD_SIZE_1[] = "the file holds ";
constexpr char BAD_SIZE_2[] = " bytes, not 368640";
constexpr char BAD_SIZE_SHORT[] = "missing bytes read as zeros";
constexpr char BAD_SIZE_LONG[] = "the bytes past 368640 are left out";
constexpr char DIR_SECTOR_1[] = "directory sector ";
constexpr char DIR_SECTOR_2[] = " cannot be read";
constexpr char DIR_SECTOR_FIX[] = "its 16 entries are left free";
constexpr char BAD_USER_1[] = "user byte ";
constexpr char BAD_USER_2[] = " is no user area (0 to 15)";
constexpr char DROPPED[] = "entry removed: it holds no data";
constexpr char NOT_A_FILE[] = "entry removed: it is no file (salvage extracts it)";
constexpr char MOVED_TO_AREA[] = "moved to user area ";
constexpr char NO_NAME[] = "no name and no block";
constexpr char BAD_NAME[] = "name fails the CP/M name check";
constexpr char NAME_CLASH_1[] = "a file of this name is already in user area ";
constexpr char NAME_CLASH_2[] = " (entry ";
constexpr char NAME_CLASH_3[] = ")";
constexpr char RENAMED[] = "renamed to ";
constexpr char BAD_BLOCK_1[] = "names block ";
constexpr char BAD_BLOCK_2[] = ", past the last block 174";
constexpr char BLOCK_DROPPED[] = "block left out";
constexpr char ZEROS_1[] = "left out; zeros take its place, in block ";
constexpr char NO_ROOM_HOLE[] = "block left out, its records a hole: no free block is left";
constexpr char STRAY_1[] = "block ";
constexpr char STRAY_2[] = " lies past the record count";
constexpr char UNREADABLE_1[] = "block ";
constexpr char UNREADABLE_2[] = " cannot be read";
constexpr char UNREADABLE_FIX[] = "copied with zeros where unreadable";
constexpr char BIG_RC_1[] = "record count byte ";
constexpr char BIG_RC_2[] = " is above 128";
constexpr char BIG_RC_FIX[] = "record count made to fit";
constexpr char EXTENT_BITS_1[] = "extent byte ";
constexpr char EXTENT_BITS_2[] = " has bits above the extent number";
constexpr char EXTENT_BITS_FIX[] = "those bits cleared";
constexpr char LAST_BYTES_1[] = "last record byte count ";
constexpr char LAST_BYTES_2[] = " is above 128";
constexpr char LAST_BYTES_FIX[] = "set to 0";
constexpr char FIT_1[] = " record(s) need ";
constexpr char FIT_2[] = " block(s), the entry names ";
constexpr char FIT_AFTER[] = "record count no longer fits its blocks after the changes above";
constexpr char FIT_FIX[] = "record count set to ";
constexpr char SHARED_1[] = "block ";
constexpr char SHARED_2[] = " is also named by entry ";
constexpr char SHARED_TWICE[] = " is named twice by this entry";
constexpr char DUP_EXTENT_1[] = "a second file of this name in its user area: extent ";
constexpr char DUP_EXTENT_2[] = " is also in entry ";
constexpr char DUP_EXTENT_FIX[] = "kept as a file of its own, named ";
constexpr char BIG_MODULE_1[] = "s2 byte ";
constexpr char BIG_MODULE_2[] = " places the entry past the 8 MB that CP/M 2.2 can address";
constexpr char MIXED_KEYS[] = "its extents carry different attribute bits";
constexpr char MIXED_KEYS_FIX[] = "all set as in its first extent";

// Salvage.
constexpr char REPORT_NAME[] = "z18fsck-report.txt";
constexpr char ARROW[] = " -> ";
constexpr char BYTES[] = " bytes";
constexpr char CLEAN[] = ", intact";
constexpr char TROUBLES[] = ", problems: ";
constexpr char SALVAGED_1[] = "Extracted ";
constexpr char SALVAGED_2[] = " file(s) into ";
constexpr char SALVAGED_3[] = ", list in ";

// Repair.
constexpr char PART_SUFFIX[] = ".part";
constexpr char REPAIRED_1[] = "Wrote repaired image ";
constexpr char REPAIRED_2[] = " with ";
constexpr char REPAIRED_3[] = " change(s)\n";

}  // namespace z18::fsck::texts
