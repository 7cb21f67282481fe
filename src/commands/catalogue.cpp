#include <cstdio>
#include <cstring>

#include "commands/commands.h"
#include "commands/texts.h"
#include "image/cpm_name.h"
#include "image/directory.h"

namespace z18 {

namespace {
constexpr int ROWS_PER_PAGE = 32;
constexpr std::size_t NAME_COLUMN = 12;

// Plain unsigned byte comparison of zero-terminated names; a prefix sorts first.
bool nameGreater(const char* a, const char* b) {
    return std::strcmp(a, b) > 0;  // strcmp compares as unsigned char
}
}  // namespace

void listCatalogue(Session& s) {
    s.out << texts::CAT_HEAD_1 << s.imageName << texts::CAT_HEAD_2 << s.mask << texts::CAT_HEAD_3;
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

        int p = 0;
        while (p < count && !nameGreater(rows[order[p]].displayName, rows[count].displayName)) ++p;
        std::memmove(order + p + 1, order + p, static_cast<std::size_t>(count - p) * sizeof order[0]);
        order[p] = count;

        ++count;
        totalK += s.entryInfo.sizeK;
    }

    char line[64];
    for (int i = 0; i < count; ++i) {
        const EntryInfo& row = rows[order[i]];
        char name[NAME_COLUMN + 1];
        std::snprintf(name, sizeof name, "%-12s", row.displayName);
        std::snprintf(line, sizeof line, texts::CAT_ROW, name, static_cast<int>(row.records),
                      static_cast<int>(row.sizeK), row.readOnly == 1 ? 'R' : '-',
                      row.hidden == 1 ? 'H' : '-');
        s.out << line;
        if (i % 2 == 0)
            s.out << '\t';
        else
            newlineFlush(s);
        if ((i + 1) % ROWS_PER_PAGE == 0) {
            s.out << texts::CAT_PAUSE << std::flush;
            s.env.waitKey();
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
