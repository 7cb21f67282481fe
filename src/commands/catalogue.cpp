#include <algorithm>
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

void gatherCatalogue(Session& s, Catalogue* c) {
    c->count = 0;
    c->totalK = 0;
    for (int index = beginSearch(s, s.maskName); index >= 0; index = nextMatch(s)) {
        describeEntry(s, index);
        s.entryInfo.records = fileRecordCount(s, keyOf(s, index));
        s.entryInfo.sizeK = ((s.entryInfo.records + 15) / 16) * 2;
        const int count = c->count;
        c->rows[count] = s.entryInfo;
        c->entries[count] = index;

        // The place after every name not greater than the new one. The names placed so far are
        // in order, so the scan may start from the end: one comparison per row when the
        // directory already stands in name order, as it does on images filled in order.
        int p = count;
        while (p > 0 && nameGreater(c->rows[c->order[p - 1]].displayName, c->rows[count].displayName)) --p;
        std::memmove(c->order + p + 1, c->order + p,
                     static_cast<std::size_t>(count - p) * sizeof c->order[0]);
        c->order[p] = count;

        ++c->count;
        c->totalK += s.entryInfo.sizeK;
    }
    c->freeK = 2 * countFreeBlocks(s);
}

std::size_t formatTotals(const Catalogue& c, char* line, std::size_t size) {
    const int n = std::snprintf(line, size, texts::CAT_TOTALS, c.totalK, c.count, c.freeK);
    return n < 0 ? 0 : std::min(static_cast<std::size_t>(n), size - 1);
}

void listCatalogue(Session& s) {
    s.out << texts::CAT_HEAD_1 << visible(s.imageName) << texts::CAT_HEAD_2 << visible(s.mask)
          << texts::CAT_HEAD_3;
    s.out << texts::CAT_COLUMNS << texts::CAT_RULE;

    Catalogue c;
    gatherCatalogue(s, &c);

    char line[64];
    for (int i = 0; i < c.count; ++i) {
        s.out.write(line, static_cast<std::streamsize>(formatRow(line, c.rows[c.order[i]])));
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

    if (c.count % 2 == 1) newlineFlush(s);
    newlineFlush(s);
    s.out.write(line, static_cast<std::streamsize>(formatTotals(c, line, sizeof line)));
    newlineFlush(s);
    newlineFlush(s);
}

}  // namespace z18
