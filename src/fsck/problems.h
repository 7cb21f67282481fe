// The problems z18fsck finds, each of one kind out of a fixed table with a stable code (the
// codes stay when the words change, so scripts and tests look for codes), and how a report line
// is made of one.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "fsck/texts.h"

namespace z18::fsck {

#define Z18FSCK_CODE(name, code, kind, what, fix) name = code,
enum class Code : int { Z18FSCK_PROBLEMS(Z18FSCK_CODE) };
#undef Z18FSCK_CODE

// A PROBLEM counts against the image; INFO is what the check learnt, and leaves the exit status.
enum class Kind { PROBLEM, INFO };

// The parts a problem's words may name besides {n} and {s}, each as the texts write it.
#define Z18FSCK_PARTS(X)                                                                     \
    X(AFTER, "after")          /* " after its header", where the disk begins past one */     \
    X(FILL, "fill")            /* what fills a directory sector that holds no entries */     \
    X(AREA, "area")            /* the user area an entry moves to */                         \
    X(NEW_NAME, "new")         /* the name the repaired image gives a file */                \
    X(BITS, "bits")            /* the attribute bits set in a name: "F1, F3" */              \
    X(OTHER, "other")          /* the number of another entry the problem is about */        \
    X(OTHER_NAME, "otherName") /* and its name as stored */                                  \
    X(ZEROS, "zeros")          /* the block of zeros that takes a lost block's place */      \
    X(COPY, "copy")            /* the block with a copy that takes a shared block's place */ \
    X(CLAIM, "claim")          /* why a block was lost: another problem, in its own words */ \
    X(BYTE, "byte")            /* a byte of the entry, in hex */                             \
    X(NEED, "need")            /* the block slots a record count needs */                    \
    X(NAMED, "named")          /* the blocks an entry names */                               \
    X(COUNT, "count")          /* the record count the repair sets */                        \
    X(BLOCKS, "blocks")        /* blocks, as runs */                                         \
    X(HOLES, "holes")          /* records no block holds, as runs */                         \
    X(BYTES, "bytes")          /* the size of a file */                                      \
    X(WHY, "why")              /* why an erased file cannot come back */

#define Z18FSCK_PART(name, word) name,
enum class Part { Z18FSCK_PARTS(Z18FSCK_PART) };
#undef Z18FSCK_PART

// The parts a problem is given, each once, with their text.
using Parts = std::vector<std::pair<Part, std::string>>;

struct Problem {
    Code code = Code::SHORT_FILE;
    int entry = -1;      // the directory entry it is about; -1 for the image as a whole
    int lastEntry = -1;  // the last one, once the same problem of neighbouring entries collapsed
    int user = -1;       // the entry's user byte; -1 where there is no entry
    std::string name;    // the entry's name as stored
    long long low = -1;  // the number the line names ({n}); a range once repeats collapsed
    long long high = -1;
    Parts parts;
    // The problem that cost an entry its block, where no block of zeros could take the block's
    // place ({claim}): told in its own row's words, with its own number and parts.
    std::vector<Problem> claim;

    bool info() const;
};

// "P401" or "I704".
std::string codeText(Code code);
// What the problem is and what a repair does about it, each filled in from the table.
std::string whatText(const Problem& p);
std::string fixText(const Problem& p);
// The whole report line, without its newline: code, subject, what and fix.
std::string problemLine(const Problem& p);
// The parts that the problem's words name and the problem does not give ("n" for a number it
// lacks), one after another; empty when the line can be made whole. Every problem the check
// raises must give them all.
std::string missingParts(const Problem& p);
// Every code of the table, in order.
std::vector<Code> allCodes();

// Orders the problems (the image's first, then by entry, then what is learnt of the image as a
// whole) and folds each run of one problem over consecutive numbers, or over consecutive entries,
// into one.
void collapse(std::vector<Problem>* problems);

// A name as the entry stores it: the 8 name bytes and the 3 type bytes without their trailing
// spaces, joined by a dot, every byte below 0x20, 0x7F and every byte from 0x80 up written as
// \xHH, so that a report shows what is on the disk.
std::string storedName(const unsigned char* entry);

}  // namespace z18::fsck
