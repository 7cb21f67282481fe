#include "commands/commands.h"
#include "commands/texts.h"
#include "image/cpm_name.h"
#include "image/directory.h"
#include "image/image_file.h"
#include "session/status.h"

namespace z18 {

namespace {

// Copies the blocks of one entry into the host file from offset *written on, counting down the
// file's records. 1 done, 0 after a reported failure.
int copyEntry(Session& s, int e, std::uint64_t* written) {
    for (int slot = 0; slot < BLOCKS_PER_ENTRY; ++slot) {
        const std::uint8_t b = s.entryAt(e)[entry::BLOCKS + slot];
        if (b == 0) break;
        std::size_t n;
        if (s.entryInfo.records <= RECORDS_PER_BLOCK) {
            n = static_cast<std::size_t>(s.entryInfo.records) * RECORD_SIZE;
            s.entryInfo.records = 0;
        } else {
            n = BLOCK_SIZE;
            s.entryInfo.records -= RECORDS_PER_BLOCK;
        }
        if (!readImageAt(s, blockOffset(b), s.transferBuffer, n)) return 0;
        if (!writeFileAt(s, s.hostHandle, *written, s.transferBuffer, n, ST_FILE_WRITE)) return 0;
        *written += n;
    }
    return 1;
}

}  // namespace

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

        std::uint64_t written = 0;
        for (int e = index; e >= 0; e = findExtent(s, key, e + 1)) {
            if (!copyEntry(s, e, &written)) return;
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
