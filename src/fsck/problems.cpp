#include "fsck/problems.h"

#include <algorithm>

#include "fsck/texts.h"
#include "session/geometry.h"

namespace z18::fsck {

namespace {

struct ProblemText {
    Code code;
    const char* what;
    const char* fix;
};
#define Z18FSCK_ROW(name, number, what, fix) {Code::name, what, fix},
constexpr ProblemText TABLE[] = {Z18FSCK_PROBLEMS(Z18FSCK_ROW)};
#undef Z18FSCK_ROW

const ProblemText& textOf(Code code) {
    for (const ProblemText& t : TABLE)
        if (t.code == code) return t;
    return TABLE[0];  // not reached: the list makes a row for every code
}

std::string range(long long low, long long high) {
    return low == high ? std::to_string(low) : std::to_string(low) + texts::RANGE_DASH + std::to_string(high);
}

std::string fill(const char* pattern, const Problem& p) {
    std::string out;
    for (const char* at = pattern; *at != '\0'; ++at) {
        if (*at != '{' || at[1] == '\0' || at[2] != '}') {
            out += *at;
            continue;
        }
        const char key = at[1];
        at += 2;
        if (key == 'n') {
            out += range(p.low, p.high);
        } else if (key == 's') {
            if (p.high != p.low) out += 's';
        } else if (key >= '1' && key <= '9') {
            const std::size_t k = static_cast<std::size_t>(key - '1');
            if (k < p.parts.size()) out += p.parts[k];
        }
    }
    return out;
}

}  // namespace

std::string codeText(Code code) {
    const int n = static_cast<int>(code);
    return (n >= FIRST_INFO_CODE ? texts::INFO_PREFIX : texts::PROBLEM_PREFIX) + std::to_string(n);
}

std::string whatText(const Problem& p) { return fill(textOf(p.code).what, p); }
std::string fixText(const Problem& p) { return fill(textOf(p.code).fix, p); }

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
    // The image's problems come first, what the check learnt of the image as a whole last.
    const auto rank = [](const Problem& p) { return p.entry >= 0 ? 1 : p.info() ? 2 : 0; };
    std::stable_sort(problems->begin(), problems->end(), [&](const Problem& a, const Problem& b) {
        return rank(a) != rank(b) ? rank(a) < rank(b) : a.entry < b.entry;
    });
    std::vector<Problem> folded;
    for (const Problem& p : *problems) {
        if (!folded.empty()) {
            Problem& last = folded.back();
            const bool alike =
                last.code == p.code && last.user == p.user && last.name == p.name && last.parts == p.parts;
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
    static constexpr char HEX[] = "0123456789ABCDEF";
    const auto field = [](const unsigned char* bytes, std::size_t width) {
        std::size_t n = width;
        while (n > 0 && bytes[n - 1] == ' ') --n;
        std::string out;
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned char c = bytes[i];
            if (c >= 0x20 && c < 0x7F) {
                out += static_cast<char>(c);
            } else {
                out += "\\x";
                out += HEX[c >> 4];
                out += HEX[c & 0xF];
            }
        }
        return out;
    };
    const std::string name = field(e + entry::NAME, entry::TYPE - entry::NAME);
    const std::string type = field(e + entry::TYPE, entry::EXTENT - entry::TYPE);
    return type.empty() ? name : name + "." + type;
}

}  // namespace z18::fsck
