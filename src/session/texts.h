// The status lines, the one place a failure is put into words. Users' scripts match these,
// spelling included.
#pragma once

namespace z18::texts {

// The status lines: the text before, the name the session has in hand, the text after. Indexed by
// -code - 1.
struct StatusText {
    const char* before;
    enum Name { NONE, IMAGE, CURRENT, ENTRY } name;
    const char* after;
};
constexpr StatusText STATUS_TEXTS[] = {
    {"Image '", StatusText::IMAGE, "' already exist"},
    {"Can't open image '", StatusText::IMAGE, "'"},
    {"Image '", StatusText::IMAGE, "' has bad size"},
    {"Error on read from the image '", StatusText::IMAGE, "'"},
    {"Error on write to the image '", StatusText::IMAGE, "'"},
    {"File '", StatusText::CURRENT, "' already exist"},
    {"Can't open file '", StatusText::CURRENT, "'"},
    {"Error on read from the file '", StatusText::CURRENT, "'"},
    {"Error on write to the file '", StatusText::CURRENT, "'"},
    {"Disk full", StatusText::NONE, ""},
    {"Directory full", StatusText::NONE, ""},
    {"File '", StatusText::CURRENT, "' already exist"},
    {"File '", StatusText::CURRENT, "' not found"},
    {"Name of tihs file '", StatusText::CURRENT, "' has incorrect format"},
    {"Corrupted directory entry '", StatusText::ENTRY, "'"},
};
constexpr const char* STATUS_TAIL = " !!!";

}  // namespace z18::texts
