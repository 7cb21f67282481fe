// Every fixed text the four file commands print. Users' scripts match these, spelling included.
#pragma once

namespace z18::texts {

constexpr const char* CAT_HEAD_1 = "Catalogue of '";
constexpr const char* CAT_HEAD_2 = "', mask: '";
constexpr const char* CAT_HEAD_3 = "'\n\n";
constexpr const char* CAT_COLUMNS = "Name          RECS  SIZE  RH\tName          RECS  SIZE  RH\n";
constexpr const char* CAT_RULE = "----------------------------\t----------------------------\n";
constexpr const char* CAT_PAUSE = "Press any key to continue...";
constexpr const char* CAT_TOTALS = "%dK in %d file(s), %dK free";

constexpr const char* ADD_BAD_PATTERN_1 = "\nPath or file/mask '";
constexpr const char* ADD_BAD_PATTERN_2 = " is invalid!!!\n\n";
constexpr const char* ADD_HEAD_1 = "Adding file(s) to '";
constexpr const char* ADD_HEAD_2 = "'\n  path: '";
constexpr const char* ADD_HEAD_3 = "', mask: '";
constexpr const char* ADD_HEAD_4 = "'\n\n";
constexpr const char* ADD_FILE_1 = "File '";
constexpr const char* ADD_FILE_2 = "' added\n";
constexpr const char* ADD_DONE_1 = "\nDone. ";
constexpr const char* ADD_DONE_2 = " file(s) added.\n\n";

constexpr const char* ERASE_HEAD_1 = "Erasing file(s) from '";
constexpr const char* ERASE_HEAD_2 = "', mask: '";
constexpr const char* ERASE_HEAD_3 = "'\n\n";
constexpr const char* ERASE_FILE_1 = "File '";
constexpr const char* ERASE_FILE_2 = "' eresed\n";
constexpr const char* ERASE_DONE_1 = "\nDone. ";
constexpr const char* ERASE_DONE_2 = " file(s) erased.\n\n";

constexpr const char* EXTRACT_HEAD_1 = "Extracting file(s) from '";
constexpr const char* EXTRACT_HEAD_2 = "'\n  path: '";
constexpr const char* EXTRACT_HEAD_3 = "', mask: '";
constexpr const char* EXTRACT_HEAD_4 = "'\n\n";
constexpr const char* EXTRACT_FILE_1 = "File '";
constexpr const char* EXTRACT_FILE_2 = "' extracted\n";
constexpr const char* EXTRACT_ONE_1 = "File '";
constexpr const char* EXTRACT_ONE_2 = "' was extracted\n\n";
constexpr const char* EXTRACT_DONE_1 = "\nDone. ";
constexpr const char* EXTRACT_DONE_2 = " file(s) extracted.\n\n";

}  // namespace z18::texts
