// The problems z18fsck finds, each of one kind out of a fixed table with a stable code (the
// codes stay when the words change, so scripts and tests look for codes), and how a report line
// is made of one.
#pragma once

#include <string>
#include <vector>

#include "fsck/texts.h"

namespace z18::fsck {

#define Z18FSCK_CODE(name, code, what, fix) name = code,
enum class Code : int { Z18FSCK_PROBLEMS(Z18FSCK_CODE) };
#undef Z18FSCK_CODE

// Codes from here on are information, no problem: they leave the exit status as it is.
constexpr int FIRST_INFO_CODE = 700;

struct Problem {
    Code code = Code::SHORT_FILE;
    int entry = -1;      // the directory entry it is about; -1 for the image as a whole
    int lastEntry = -1;  // the last one, once the same problem of neighbouring entries collapsed
    int user = -1;       // the entry's user byte; -1 where there is no entry
    std::string name;    // the entry's name as stored
    long long low = -1;  // the number the line names ({n}); a range once repeats collapsed
    long long high = -1;
    std::vector<std::string> parts;  // {1}, {2}, {3}

    bool info() const { return static_cast<int>(code) >= FIRST_INFO_CODE; }
};

// "P401" or "I704".
std::string codeText(Code code);
// What the problem is and what a repair does about it, each filled in from the table.
std::string whatText(const Problem& p);
std::string fixText(const Problem& p);
// The whole report line, without its newline: code, subject, what and fix.
std::string problemLine(const Problem& p);

// Orders the problems (the image's first, then by entry, then what is learnt of the image as a
// whole) and folds each run of one problem over consecutive numbers, or over consecutive entries,
// into one.
void collapse(std::vector<Problem>* problems);

// A name as the entry stores it: the 8 name bytes and the 3 type bytes without their trailing
// spaces, joined by a dot, every byte below 0x20, 0x7F and every byte from 0x80 up written as
// \xHH, so that a report shows what is on the disk.
std::string storedName(const unsigned char* entry);

}  // namespace z18::fsck
