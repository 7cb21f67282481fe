#include "commands/commands.h"
#include "commands/texts.h"
#include "image/cpm_name.h"
#include "image/directory.h"
#include "image/file_walk.h"
#include "image/image_file.h"
#include "session/status.h"

namespace z18 {

void extractFiles(Session& s) {
    s.out << texts::EXTRACT_HEAD_1 << visible(s.imageName) << texts::EXTRACT_HEAD_2 << visible(s.hostDir)
          << texts::EXTRACT_HEAD_3 << visible(s.mask) << texts::EXTRACT_HEAD_4;

    int extracted = 0;
    for (int index = beginSearch(s, s.maskName); index >= 0; index = nextMatch(s)) {
        const FileKey key = keyOf(s, index);
        describeEntry(s, index);
        s.entryInfo.records = fileRecordCount(s, key);
        s.currentName = s.entryInfo.displayName;
        if (!openHostFile(s, HostFileMode::Extract)) return;

        // The bytes PIP would copy: CP/M's own reading of the file, however its entries stand.
        std::uint64_t written = 0;
        FileWalk walk = beginWalk(s.directory, key);
        for (BlockRun run; nextRun(walk, &run);) {
            const std::size_t n = static_cast<std::size_t>(run.records) * RECORD_SIZE;
            if (!readImageAt(s, blockOffset(run.block), s.transferBuffer, n)) return;
            if (!writeFileAt(s, s.hostHandle, written, s.transferBuffer, n, ST_FILE_WRITE)) return;
            written += n;
            s.entryInfo.records -= run.records;  // kept by design: the record count-down nothing reads
        }
        closeHostFile(s);
        ++extracted;
        s.out << texts::EXTRACT_FILE_1 << visible(s.currentName) << texts::EXTRACT_FILE_2;
    }

    if (extracted == 0 && !s.maskHasWildcard) {
        s.currentName = s.mask;
        reportStatus(s, ST_NOT_FOUND);
    } else if (extracted == 1 && !s.maskHasWildcard) {
        s.out << texts::EXTRACT_ONE_1 << visible(s.mask) << texts::EXTRACT_ONE_2;
    } else {
        s.out << texts::EXTRACT_DONE_1 << extracted << texts::EXTRACT_DONE_2;
    }
}

}  // namespace z18
