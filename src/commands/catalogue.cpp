#include <cstdio>
#include <cstring>

#include "commands/commands.h"
#include "commands/texts.h"
#include "image/cpm_name.h"
#include "image/directory.h"
#include "session/status.h"

namespace z18 {

namespace {
constexpr int ROWS_PER_PAGE = 32;
constexpr std::size_t NAME_COLUMN = 12;

// Plain unsigned byte comparison of zero-terminated names; a prefix sorts first.
bool nameGreater(const char* a, const char* b) {
    return std::strcmp(a, b) > 0;  // strcmp compares as unsigned char
}

// Writes value right-aligned in at least width columns, as "%*d" does.
char* putNumber(char* at, int value, int width) {
    char digits[12];
    int n = 0;
    unsigned rest = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        digits[n++] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (value < 0) digits[n++] = '-';
    for (int pad = width - n; pad > 0; --pad) *at++ = ' ';
    while (n > 0) *at++ = digits[--n];
    return at;
}

// One row: the name filled to 12 columns, two spaces, records in 4 columns, a space, size in 4
// columns and "K", two spaces, the R and H flags. Built by hand: going through printf twice a
// row took over a third of a 64-file catalogue's instructions.
std::size_t formatRow(char* line, const EntryInfo& row) {
    char* at = line;
    std::size_t i = 0;
    for (; i < NAME_COLUMN && row.displayName[i] != '\0'; ++i) *at++ = row.displayName[i];
    for (; i < NAME_COLUMN; ++i) *at++ = ' ';
    *at++ = ' ';
    *at++ = ' ';
    at = putNumber(at, row.records, 4);
    *at++ = ' ';
    at = putNumber(at, row.sizeK, 4);
    *at++ = 'K';
    *at++ = ' ';
    *at++ = ' ';
    *at++ = row.readOnly == 1 ? 'R' : '-';
    *at++ = row.hidden == 1 ? 'H' : '-';
    return static_cast<std::size_t>(at - line);
}
}  // namespace

void listCatalogue(Session& s) {
    s.out << texts::CAT_HEAD_1 << visible(s.imageName) << texts::CAT_HEAD_2 << visible(s.mask)
          << texts::CAT_HEAD_3;
    s.out << texts::CAT_COLUMNS << texts::CAT_RULE;

    EntryInfo rows[DIRECTORY_ENTRIES];
    int order[DIRECTORY_ENTRIES];
    int count = 0;
    int totalK = 0;

    for (int index = beginSearch(s, s.maskName); index >= 0; index = nextMatch(s)) {
        describeEntry(s, index);
        s.entryInfo.records = fileRecordCount(s, keyOf(s, index));
        s.entryInfo.sizeK = ((s.entryInfo.records + 15) / 16) * 2;
        rows[count] = s.entryInfo;

        // The place after every name not greater than the new one. The names placed so far are
        // in order, so the scan may start from the end: one comparison per row when the
        // directory already stands in name order, as it does on images filled in order.
        int p = count;
        while (p > 0 && nameGreater(rows[order[p - 1]].displayName, rows[count].displayName)) --p;
        std::memmove(order + p + 1, order + p, static_cast<std::size_t>(count - p) * sizeof order[0]);
        order[p] = count;

        ++count;
        totalK += s.entryInfo.sizeK;
    }

    char line[64];
    for (int i = 0; i < count; ++i) {
        s.out.write(line, static_cast<std::streamsize>(formatRow(line, rows[order[i]])));
        if (i % 2 == 0)
            s.out << '\t';
        else
            newlineFlush(s);
        if ((i + 1) % ROWS_PER_PAGE == 0) {
            s.out << texts::CAT_PAUSE << std::flush;
            s.env.waitKey(texts::CAT_PAUSE);
            s.out << '\r';
        }
    }

    if (count % 2 == 1) newlineFlush(s);
    newlineFlush(s);
    std::snprintf(line, sizeof line, texts::CAT_TOTALS, totalK, count, 2 * countFreeBlocks(s));
    s.out << line;
    newlineFlush(s);
    newlineFlush(s);
}

}  // namespace z18
