#include "fsck/problems.h"

#include <algorithm>

#include "fsck/texts.h"
#include "host/ascii.h"
#include "session/geometry.h"

namespace z18::fsck {

namespace {

struct Row {
    Code code;
    Kind kind;
    const char* what;
    const char* fix;
};
#define Z18FSCK_ROW(name, number, kind, what, fix) {Code::name, Kind::kind, what, fix},
constexpr Row TABLE[] = {Z18FSCK_PROBLEMS(Z18FSCK_ROW)};
#undef Z18FSCK_ROW

#define Z18FSCK_WORD(name, word) word,
constexpr const char* PART_WORDS[] = {Z18FSCK_PARTS(Z18FSCK_WORD)};
#undef Z18FSCK_WORD
constexpr int PART_COUNT = static_cast<int>(sizeof PART_WORDS / sizeof PART_WORDS[0]);

// The table is checked as it compiles: a code given twice or out of order, or words that name a
// part no problem can give, never reach a report.
constexpr bool sameWord(const char* word, const char* from, const char* to) {
    for (; from < to; ++from, ++word)
        if (*word != *from) return false;
    return *word == '\0';
}
// The part named by the word between from and to, or -1.
constexpr int partOf(const char* from, const char* to) {
    for (int k = 0; k < PART_COUNT; ++k)
        if (sameWord(PART_WORDS[k], from, to)) return k;
    return -1;
}
// Where the word that starts after the "{" at `open` ends, at its "}"; null where none closes it.
constexpr const char* wordEnd(const char* open) {
    const char* at = open + 1;
    while (*at != '\0' && *at != '{' && *at != '}') ++at;
    return *at == '}' ? at : nullptr;
}
// Every brace opens a word that is {n}, {s} or a part, and is closed.
constexpr bool wordsKnown(const char* text) {
    for (const char* at = text; *at != '\0'; ++at) {
        if (*at == '}') return false;
        if (*at != '{') continue;
        const char* end = wordEnd(at);
        if (end == nullptr) return false;
        if (!sameWord("n", at + 1, end) && !sameWord("s", at + 1, end) && partOf(at + 1, end) < 0)
            return false;
        at = end;
    }
    return true;
}
constexpr bool codesAscend() {
    for (std::size_t k = 1; k < sizeof TABLE / sizeof TABLE[0]; ++k)
        if (static_cast<int>(TABLE[k - 1].code) >= static_cast<int>(TABLE[k].code)) return false;
    return true;
}
constexpr bool allWordsKnown() {
    for (const Row& row : TABLE)
        if (!wordsKnown(row.what) || !wordsKnown(row.fix)) return false;
    return true;
}
static_assert(codesAscend(), "each problem code is given once, the table in ascending order");
static_assert(allWordsKnown(), "the problem texts name only {n}, {s} and the parts of Z18FSCK_PARTS");

const Row& rowOf(Code code) {
    for (const Row& row : TABLE)
        if (row.code == code) return row;
    return TABLE[0];  // not reached: the list makes a row for every code
}

std::string range(long long low, long long high) {
    return low == high ? std::to_string(low) : std::to_string(low) + texts::RANGE_DASH + std::to_string(high);
}

const std::string* given(const Problem& p, int part) {
    for (const auto& given : p.parts)
        if (static_cast<int>(given.first) == part) return &given.second;
    return nullptr;
}

std::string fill(const char* pattern, const Problem& p) {
    std::string out;
    for (const char* at = pattern; *at != '\0'; ++at) {
        if (*at != '{') {
            out += *at;
            continue;
        }
        const char* end = wordEnd(at);
        const int part = partOf(at + 1, end);
        if (sameWord("n", at + 1, end)) {
            out += range(p.low, p.high);
        } else if (sameWord("s", at + 1, end)) {
            if (p.high != p.low) out += 's';
        } else if (part == static_cast<int>(Part::CLAIM)) {
            if (!p.claim.empty()) out += whatText(p.claim[0]);
        } else if (const std::string* text = given(p, part)) {
            out += *text;
        }
        at = end;
    }
    return out;
}

// The words of `pattern` that p leaves without a value, each after ", ".
std::string missingIn(const char* pattern, const Problem& p) {
    std::string missing;
    for (const char* at = pattern; *at != '\0'; ++at) {
        if (*at != '{') continue;
        const char* end = wordEnd(at);
        const int part = partOf(at + 1, end);
        const bool lacking = sameWord("n", at + 1, end)              ? p.low < 0
                             : part == static_cast<int>(Part::CLAIM) ? p.claim.empty()
                             : part >= 0                             ? given(p, part) == nullptr
                                                                     : false;
        if (lacking) missing += ", " + std::string(at + 1, end);
        // The claim is shown by its words of what is wrong only.
        if (part == static_cast<int>(Part::CLAIM) && !p.claim.empty())
            missing += missingIn(rowOf(p.claim[0].code).what, p.claim[0]);
        at = end;
    }
    return missing;
}

}  // namespace

bool Problem::info() const { return rowOf(code).kind == Kind::INFO; }

std::string codeText(Code code) {
    return (rowOf(code).kind == Kind::INFO ? texts::INFO_PREFIX : texts::PROBLEM_PREFIX) +
           std::to_string(static_cast<int>(code));
}

std::string whatText(const Problem& p) { return fill(rowOf(p.code).what, p); }
std::string fixText(const Problem& p) { return fill(rowOf(p.code).fix, p); }

std::string missingParts(const Problem& p) {
    const std::string missing = missingIn(rowOf(p.code).what, p) + missingIn(rowOf(p.code).fix, p);
    return missing.empty() ? missing : missing.substr(2);
}

std::vector<Code> allCodes() {
    std::vector<Code> codes;
    for (const Row& row : TABLE) codes.push_back(row.code);
    return codes;
}

std::string problemLine(const Problem& p) {
    std::string line = codeText(p.code) + ' ';
    if (p.entry < 0) {
        line += texts::IMAGE_SUBJECT;
    } else {
        line += p.lastEntry > p.entry ? texts::ENTRIES_SUBJECT + range(p.entry, p.lastEntry)
                                      : texts::ENTRY_SUBJECT + std::to_string(p.entry);
        if (p.user == FILLER_BYTE)
            line += texts::ERASED_SUBJECT + p.name + "'";
        else if (p.user >= 0)
            line += texts::USER_SUBJECT + std::to_string(p.user) + " '" + p.name + "'";
    }
    line += ": " + whatText(p);
    const std::string fix = fixText(p);
    if (!fix.empty()) line += (p.info() ? "; " : texts::REPAIR_SEPARATOR) + fix;
    return line;
}

void collapse(std::vector<Problem>* problems) {
    const auto sameClaim = [](const Problem& a, const Problem& b) {
        return a.claim.size() == b.claim.size() &&
               (a.claim.empty() || whatText(a.claim[0]) == whatText(b.claim[0]));
    };
    // The image's problems come first, what the check learnt of the image as a whole last.
    const auto rank = [](const Problem& p) { return p.entry >= 0 ? 1 : p.info() ? 2 : 0; };
    std::stable_sort(problems->begin(), problems->end(), [&](const Problem& a, const Problem& b) {
        return rank(a) != rank(b) ? rank(a) < rank(b) : a.entry < b.entry;
    });
    std::vector<Problem> folded;
    for (const Problem& p : *problems) {
        if (!folded.empty()) {
            Problem& last = folded.back();
            const bool alike = last.code == p.code && last.user == p.user && last.name == p.name &&
                               last.parts == p.parts && sameClaim(last, p);
            const bool sameEntry = last.entry == p.entry && last.lastEntry == p.lastEntry;
            if (alike && sameEntry && p.low >= 0 && last.high + 1 == p.low) {
                last.high = p.high;
                continue;
            }
            const bool nextEntry = last.entry >= 0 && std::max(last.entry, last.lastEntry) + 1 == p.entry;
            if (alike && nextEntry && last.low == p.low && last.high == p.high) {
                last.lastEntry = std::max(p.entry, p.lastEntry);
                continue;
            }
            // Neighbouring directory sectors, each with its entries.
            if (alike && nextEntry && p.user < 0 && p.low >= 0 && last.high + 1 == p.low) {
                last.lastEntry = std::max(p.entry, p.lastEntry);
                last.high = p.high;
                continue;
            }
        }
        folded.push_back(p);
    }
    *problems = folded;
}

std::string storedName(const unsigned char* e) {
    const auto field = [](const unsigned char* bytes, std::size_t width) {
        std::size_t n = width;
        while (n > 0 && bytes[n - 1] == ' ') --n;
        std::string out;
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned char c = bytes[i];
            if (isPrintableAscii(c)) {
                out += static_cast<char>(c);
            } else {
                out += "\\x";
                out += hexDigit(c >> 4);
                out += hexDigit(c);
            }
        }
        return out;
    };
    const std::string name = field(e + entry::NAME, NAME_SIZE);
    const std::string type = field(e + entry::TYPE, TYPE_SIZE);
    return type.empty() ? name : name + "." + type;
}

}  // namespace z18::fsck
