// The repaired image: made under a name of its own and given its real name only when all of it
// is on the disk, so a run cut short never leaves a half-made image under the name asked for.
#include "fsck/repair.h"

#include <cstring>

#include "fsck/texts.h"
#include "fsck/work.h"

namespace z18::fsck {

namespace {

// False, with *why, when the bytes are not on the disk.
bool flushed(Session& s, int handle, std::string* why) {
    if (s.env.flush(handle)) return true;
    *why = reasonOf(s);
    return false;
}

}  // namespace

bool prepareRepair(Session& s, const Options& o, Repair* repair) {
    repair->asked = true;
    if (s.env.pathExists(o.repairPath)) {
        repair->failure = failureLine(texts::NEW_EXISTS, o.repairPath, std::string());
        return false;
    }
    // NEW.part is what a run that stopped left: a file no larger than an image. It goes now,
    // before any work; anything else of that name stays, and the run does not start.
    const std::string part = o.repairPath + texts::PART_SUFFIX;
    if (!s.env.pathExists(part)) return true;
    const int handle = s.env.openFile(part, OpenMode::HostRead);
    std::uint64_t size = IMAGE_SIZE + 1;
    if (handle != CLOSED_HANDLE) {
        if (!s.env.fileSize(handle, &size)) size = IMAGE_SIZE + 1;
        s.env.closeFile(handle);
    }
    if (size > IMAGE_SIZE) {
        repair->failure = failureLine(texts::PART_IN_WAY, part, std::string());
        return false;
    }
    if (!s.env.removeFile(part)) {
        repair->failure = failureLine(texts::PART_CANNOT_REMOVE, part, reasonOf(s));
        return false;
    }
    repair->note = failureLine(texts::PART_REMOVED, part, std::string());
    return true;
}

bool runRepair(Session& s, const Options& o, const Plan& plan, Repair* repair) {
    const std::string part = o.repairPath + texts::PART_SUFFIX;
    if (s.env.pathExists(o.repairPath)) {
        repair->failure = failureLine(texts::NEW_EXISTS, o.repairPath, std::string());
        return false;
    }
    const int handle = s.env.createNewFile(part);
    if (handle == CLOSED_HANDLE) {
        repair->failure = failureLine(texts::NEW_CANNOT_MAKE, part, reasonOf(s));
        return false;
    }
    std::vector<std::uint8_t> image = plan.disk.bytes;
    // Free space that could not be read is written as free space, not as zeros that would read as
    // data no file names.
    for (int b : plan.freeUnread)
        for (std::uint64_t k = blockOffset(static_cast<unsigned>(b));
             k < blockOffset(static_cast<unsigned>(b) + 1); ++k)
            if (!plan.disk.read[k]) image[k] = FILLER_BYTE;
    for (int b : plan.zeroBlocks)
        std::memset(image.data() + blockOffset(static_cast<unsigned>(b)), 0, BLOCK_SIZE);
    for (const BlockCopy& copy : plan.copiedBlocks) {
        std::uint8_t* to = image.data() + blockOffset(static_cast<unsigned>(copy.to));
        std::memset(to, 0, BLOCK_SIZE);
        std::memcpy(to, plan.disk.bytes.data() + blockOffset(static_cast<unsigned>(copy.from)),
                    static_cast<std::size_t>(copy.records) * RECORD_SIZE);
    }
    // The data first, under an empty directory; the directory that names it only once the data
    // is on the disk.
    std::memset(image.data() + DIRECTORY_OFFSET, FILLER_BYTE, DIRECTORY_SIZE);
    std::string why;
    const bool ok = writeAll(s, handle, 0, image.data(), image.size(), &why) && flushed(s, handle, &why) &&
                    writeAll(s, handle, DIRECTORY_OFFSET, plan.directory, DIRECTORY_SIZE, &why) &&
                    flushed(s, handle, &why);
    if (!closeWritten(s, handle, ok, &why)) {
        s.env.removeFile(part);
        repair->failure = failureLine(texts::NEW_CANNOT_WRITE, part, why);
        return false;
    }
    if (!s.env.renameNoReplace(part, o.repairPath)) {
        repair->failure = failureLine(texts::NEW_CANNOT_NAME, part, reasonOf(s));
        return false;
    }
    repair->written = true;
    return true;
}

}  // namespace z18::fsck
