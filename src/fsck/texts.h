// Every fixed text z18fsck prints, in one place.
#pragma once

namespace z18::fsck::texts {

constexpr char PROGRAM[] = "z18fsck: ";
constexpr char USAGE[] =
    "Usage: z18fsck [-x DIR] [-o NEW.z18 [-u [MASK]]] [-b MAPFILE] [--json] IMAGE\n"
    "  z18fsck IMAGE              check IMAGE and report, change nothing\n"
    "  z18fsck -x DIR IMAGE       also extract every file that can be read into DIR (new or empty),\n"
    "                             erased ones into DIR/erased, data no file names into DIR/lost+found\n"
    "  z18fsck -o NEW.z18 IMAGE   also write a repaired copy of IMAGE to NEW.z18 (must not exist)\n"
    "  -u [MASK]                  with -o, bring back the erased files (those MASK matches)\n"
    "  -b MAPFILE                 the sectors a GNU ddrescue map (or a list of sector numbers) names\n"
    "                             as bad count as unreadable\n"
    "  --json                     print the report as one JSON document\n"
    "IMAGE is only ever read. Exit status: 0 clean, 1 problems found (and handled), 2 failure.\n";
constexpr char VERSION[] = "z18fsck v1.2\n";

// Faults of the command line, shown before the usage.
constexpr char UNKNOWN_OPTION[] = "unknown option ";
constexpr char TWICE_1[] = "option ";
constexpr char TWICE_2[] = " given twice";
constexpr char NEEDS_1[] = "option ";
constexpr char NEEDS_2[] = " needs a value";
constexpr char BAD_MASK_1[] = "'";
constexpr char BAD_MASK_2[] = "' is no CP/M name or mask";
constexpr char NO_IMAGE[] = "no image given";
constexpr char EMPTY_IMAGE[] = "an empty image name";
constexpr char SECOND_IMAGE[] = "one image only, not also ";
constexpr char UNDELETE_NEEDS_REPAIR[] =
    "-u brings files back into a repaired image only: give -o NEW.z18 too";

// Failures that end a run with status 2, each followed by the host's reason where it gave one.
constexpr char CANNOT_OPEN[] = "cannot open image ";
constexpr char CANNOT_READ[] = "cannot read image ";
constexpr char MAP_CANNOT_READ[] = "cannot read the bad-sector map ";
constexpr char MAP_BAD_1[] = "the bad-sector map ";
constexpr char MAP_BAD_2[] = " is no ddrescue map and no list of sector numbers: line ";
constexpr char DIR_NOT_EMPTY[] = "salvage folder is not empty or not a folder: ";
constexpr char DIR_CANNOT_MAKE[] = "cannot make salvage folder ";
constexpr char NEW_EXISTS[] = "will not replace existing ";
constexpr char NEW_CANNOT_MAKE[] = "cannot create ";
constexpr char NEW_CANNOT_WRITE[] = "cannot write ";
constexpr char NEW_CANNOT_NAME[] = "cannot give the repaired image its name; it is left as ";
constexpr char PART_IN_WAY[] = "will not remove what is not an unfinished repaired image: ";
constexpr char PART_CANNOT_REMOVE[] = "cannot remove the unfinished repaired image an earlier run left: ";
constexpr char PART_REMOVED[] = "removed an unfinished repaired image an earlier run left: ";
constexpr char FILE_CANNOT_WRITE[] = "cannot write ";
constexpr char REPORT_CANNOT_WRITE[] = "cannot write the report ";
constexpr char REPORT_PRINTED[] = "; it is printed above";
constexpr char STOPPED[] = "salvage stopped: ";

// The check.
constexpr char CHECKING[] = "Checking ";
constexpr char SUMMARY_FILES[] = " file(s), ";
constexpr char SUMMARY_ENTRIES[] = " of 64 entries used, ";
constexpr char SUMMARY_USED[] = " blocks used, ";
constexpr char SUMMARY_FREE[] = " free, ";
constexpr char SUMMARY_PROBLEMS[] = " problem(s)\n";

// Every problem z18fsck reports: its name in the code, its stable code, its kind (a PROBLEM counts
// against the image and sets the exit status; INFO tells what the check learnt and leaves the
// status as it is), what it says and what a repair does about it (for information, what can be
// done). In the texts, {n} is the number the line is about (a range once repeats of one problem
// collapse, and then {s} is "s"); any other {word} is a part the check hands over with the
// problem, one of Z18FSCK_PARTS (problems.h). One list makes both the codes and the table, so
// neither lacks a row; problems.cpp checks the list as it compiles.
#define Z18FSCK_PROBLEMS(X)                                                                                \
    /* The image file as a whole. */                                                                       \
    X(SHORT_FILE, 101, PROBLEM, "the file holds {n} bytes{after}, not 368640",                             \
      "missing bytes read as zeros")                                                                       \
    X(LONG_FILE, 102, PROBLEM, "the file holds {n} bytes{after}, not 368640",                              \
      "the bytes past 368640 are left out")                                                                \
    X(HEADER, 103, PROBLEM, "a header of {n} bytes comes before the disk",                                 \
      "read from there; the repair leaves the header out")                                                 \
    /* The directory. */                                                                                   \
    X(DIRECTORY_UNREADABLE, 201, PROBLEM, "image sector{s} {n} cannot be read",                            \
      "their entries are left free")                                                                       \
    X(DIRECTORY_JUNK, 202, PROBLEM, "no plausible entry in image sector{s} {n} ({fill})",                  \
      "their entries are left free")                                                                       \
    X(NO_NAME_NO_BLOCK, 203, PROBLEM, "no name and no block", "entry removed: it holds no data")           \
    /* User bytes and names. */                                                                            \
    X(USER_MOVED, 301, PROBLEM, "user byte {n} is no user area (0 to 15)", "moved to user area {area}")    \
    X(USER_NO_DATA, 302, PROBLEM, "user byte {n} is no user area (0 to 15)",                               \
      "entry removed: it holds no data")                                                                   \
    X(USER_NO_FILE, 303, PROBLEM, "user byte {n} is no user area (0 to 15)",                               \
      "entry removed: it is no file (salvage extracts it)")                                                \
    X(BAD_NAME, 304, PROBLEM, "name fails the CP/M name check", "renamed to {new}")                        \
    X(NAME_ATTRIBUTES, 305, PROBLEM, "attribute {bits} set in the name, which z18man refuses",             \
      "cleared, the name kept")                                                                            \
    X(MIXED_KEYS, 307, PROBLEM, "its extents carry different attribute bits",                              \
      "all set as in its first extent")                                                                    \
    /* Block numbers. */                                                                                   \
    X(BLOCK_PAST_DISK, 401, PROBLEM, "names block{s} {n}, past the last block 174", "left out")            \
    X(BLOCK_PAST_DISK_ZEROS, 402, PROBLEM, "names block {n}, past the last block 174",                     \
      "a block of zeros takes its place: block {zeros}")                                                   \
    X(BLOCK_SHARED, 403, PROBLEM, "block {n} is also named by entry {other} '{otherName}'",                \
      "a block of zeros takes its place: block {zeros}")                                                   \
    X(BLOCK_TWICE, 404, PROBLEM, "block {n} is named twice by this entry",                                 \
      "a block of zeros takes its place: block {zeros}")                                                   \
    X(BLOCK_PAST_COUNT, 405, PROBLEM, "names block{s} {n} past its record count", "left out")              \
    X(BLOCK_LOST_HOLE, 406, PROBLEM, "{claim}, and no block is free", "left out: its records are a hole")  \
    X(BLOCK_SHARED_KEPT, 407, PROBLEM,                                                                     \
      "block {n} is also named by entry {other} '{otherName}', and nothing shows whose it is",             \
      "kept here; the other entry gets a copy")                                                            \
    X(BLOCK_SHARED_COPY, 408, PROBLEM,                                                                     \
      "block {n} is also named by entry {other} '{otherName}', and nothing shows whose it is",             \
      "a copy of it takes its place: block {copy}")                                                        \
    /* Record counts and extents. */                                                                       \
    X(BIG_RECORD_COUNT, 501, PROBLEM, "record count byte {n} is above 128", "record count made to fit")    \
    X(EXTENT_BITS, 502, PROBLEM, "extent byte {byte} has bits above the extent number",                    \
      "those bits cleared")                                                                                \
    X(LAST_BYTES, 503, PROBLEM, "last record byte count {n} is above 128", "set to 0")                     \
    X(COUNT_PAST_BLOCKS, 504, PROBLEM, "{n} record(s) need {need} block(s), the entry names {named}",      \
      "record count set to {count}")                                                                       \
    X(COUNT_AFTER_CHANGES, 505, PROBLEM, "record count no longer fits its blocks after the changes above", \
      "record count set to {count}")                                                                       \
    X(SECOND_EXTENT, 506, PROBLEM,                                                                         \
      "a second file of this name in its user area: extent {n} is also in entry "                          \
      "{other}",                                                                                           \
      "kept as a file of its own, named {new}")                                                            \
    X(BIG_MODULE, 507, PROBLEM, "s2 byte {n} places the entry past the 8 MB that CP/M 2.2 can address",    \
      "kept as a file of its own, named {new}")                                                            \
    X(MODULE_BIT, 508, PROBLEM, "s2 byte {byte} has bit 7 set", "bit cleared")                             \
    /* The data. */                                                                                        \
    X(UNREADABLE, 601, PROBLEM, "record{s} {n} cannot be read ({blocks})",                                 \
      "copied with zeros where unreadable")                                                                \
    /* What the check learnt, no problem. */                                                               \
    X(SPARSE, 701, INFO, "sparse: records {holes} are holes, read as zeros", "")                           \
    X(ERASED, 702, INFO, "an erased file of {bytes} bytes",                                                \
      "-x saves it in erased/, -o with -u brings it back")                                                 \
    X(ERASED_LOST, 703, INFO, "an erased file of {bytes} bytes, lost: {why}", "")                          \
    X(ERASED_BACK, 704, INFO, "an erased file of {bytes} bytes", "brought back as {new}, in user area 0")  \
    X(LOST_DATA, 705, INFO, "data that no file names, in block{s} {blocks}",                               \
      "salvage saves each run of blocks in lost+found/")                                                   \
    X(ERASED_EXTENT, 706, INFO, "an erased extent of the file of entry {other}, with record{s} {n}",       \
      "-x saves it in erased/, -o with -u puts it back into that file")                                    \
    X(ERASED_EXTENT_BACK, 707, INFO, "an erased extent of the file of entry {other}, with record{s} {n}",  \
      "put back into that file")                                                                           \
    X(PAST_COUNT_DATA, 708, INFO, "data past its record count in block {blocks}, record{s} {n}",           \
      "salvage saves it in lost+found/")

// What fills a directory sector that holds no entries.
constexpr char FILL_BYTE[] = "every byte ";
constexpr char FILL_PATTERN_1[] = "the same ";
constexpr char FILL_PATTERN_2[] = " bytes over and over";
constexpr char FILL_NOISE[] = "bytes at random";

constexpr char AFTER_HEADER[] = " after its header";
// Why an erased file cannot come back.
constexpr char ERASED_NO_START[] = "its first extent is gone";
constexpr char ERASED_UNFIT[] = "its record counts and blocks do not fit together";
constexpr char ERASED_TAKEN_1[] = "block ";
constexpr char ERASED_TAKEN_2[] = " now belongs to entry ";
constexpr char ERASED_SHARED_1[] = "block ";
constexpr char ERASED_SHARED_2[] = " is named by another erased entry too";
// Where salvage puts what it finds besides the files.
constexpr char LOST_FOLDER[] = "lost+found/";
constexpr char ERASED_FOLDER[] = "erased/";
constexpr char LOST_RUN[] = "blocks-";
constexpr char LOST_BLOCK[] = "block-";
constexpr char LOST_RUN_SHOWN[] = "blocks ";
constexpr char LOST_BLOCK_SHOWN[] = "block ";
constexpr char LOST_RECORDS[] = "-records-";
constexpr char LOST_RECORDS_SHOWN[] = ", records ";
constexpr char ERASED_SUBJECT[] = " erased '";

constexpr char PROBLEM_PREFIX = 'P';
constexpr char INFO_PREFIX = 'I';
constexpr char RANGE_DASH = '-';
constexpr char IMAGE_SUBJECT[] = "image";
constexpr char ENTRY_SUBJECT[] = "entry ";
constexpr char ENTRIES_SUBJECT[] = "entries ";
constexpr char USER_SUBJECT[] = " user ";
constexpr char REPAIR_SEPARATOR[] = "; repair: ";

// Salvage.
constexpr char REPORT_NAME[] = "z18fsck-report.txt";
constexpr char ARROW[] = " -> ";
constexpr char BYTES[] = " bytes";
constexpr char CLEAN[] = ", intact";
constexpr char TROUBLES[] = ", problems: ";
constexpr char OF[] = " of ";
constexpr char PARTIAL[] = ", partial: cut short";
constexpr char NOT_WRITTEN[] = ", not written";
constexpr char DAMAGED[] = ", damaged: records ";
constexpr char HOLES[] = ", holes: records ";
constexpr char LOST_LINE[] = ", data no file names";
constexpr char ERASED_LINE[] = "erased ";
constexpr char PARTIAL_SUFFIX[] = ".partial";
constexpr char SALVAGED_1[] = "Extracted ";
constexpr char SALVAGED_2[] = " file(s) into ";
constexpr char SALVAGED_3[] = ", list in ";

// The words of the JSON report.
constexpr char JSON_FILE[] = "file";
constexpr char JSON_ERASED[] = "erased";
constexpr char JSON_LOST[] = "lost";
constexpr char JSON_WHOLE[] = "whole";
constexpr char JSON_PARTIAL[] = "partial";
constexpr char JSON_NOT_WRITTEN[] = "no";

// Repair.
constexpr char PART_SUFFIX[] = ".part";
constexpr char REPAIRED_1[] = "Wrote repaired image ";
constexpr char REPAIRED_2[] = " with ";
constexpr char REPAIRED_3[] = " change(s)\n";

}  // namespace z18::fsck::texts
