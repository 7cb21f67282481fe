// The repaired image: made under a name of its own and given its real name only when all of it
// is on the disk, so a run cut short never leaves a half-made image under the name asked for.
#include "fsck/repair.h"

#include <cstring>

#include "fsck/texts.h"
#include "fsck/work.h"

namespace z18::fsck {

namespace {

// Whether anything has the name, taking one the host cannot look at as taken.
bool taken(Session& s, const std::string& path) { return s.env.pathExists(path).valueOr(true); }

}  // namespace

bool prepareRepair(Session& s, const Options& o, Repair* repair) {
    repair->asked = true;
    if (taken(s, o.repairPath)) {
        repair->failure = failureLine(texts::NEW_EXISTS, o.repairPath, std::string());
        return false;
    }
    // NEW.part is what a run that stopped left: a file no larger than an image. It goes now,
    // before any work; anything else of that name stays, and the run does not start.
    const std::string part = o.repairPath + texts::PART_SUFFIX;
    if (!taken(s, part)) return true;
    std::uint64_t size = IMAGE_SIZE + 1;
    if (HostResult<HostFile> left = HostFile::open(s.env, part, OpenMode::HostRead); left.ok())
        size = left.value().size().valueOr(IMAGE_SIZE + 1);
    if (size > IMAGE_SIZE) {
        repair->failure = failureLine(texts::PART_IN_WAY, part, std::string());
        return false;
    }
    if (const HostStatus removed = s.env.removeFile(part); !removed.ok()) {
        repair->failure = failureLine(texts::PART_CANNOT_REMOVE, part, reasonOf(removed));
        return false;
    }
    repair->note = failureLine(texts::PART_REMOVED, part, std::string());
    return true;
}

bool runRepair(Session& s, const Options& o, const Plan& plan, Repair* repair) {
    const std::string part = o.repairPath + texts::PART_SUFFIX;
    if (taken(s, o.repairPath)) {
        repair->failure = failureLine(texts::NEW_EXISTS, o.repairPath, std::string());
        return false;
    }
    HostResult<HostFile> made = HostFile::createNew(s.env, part);
    if (!made.ok()) {
        repair->failure = failureLine(texts::NEW_CANNOT_MAKE, part, reasonOf(made.status()));
        return false;
    }
    HostFile& file = made.value();
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
    std::size_t done = 0;
    HostStatus written = file.writeExactly(0, image.data(), image.size(), &done);
    if (written.ok()) written = file.flush();
    if (written.ok()) written = file.writeExactly(DIRECTORY_OFFSET, plan.directory, DIRECTORY_SIZE, &done);
    if (written.ok()) written = file.flush();
    if (const HostStatus closed = closeWritten(file, written); !closed.ok()) {
        (void)s.env.removeFile(part);
        repair->failure = failureLine(texts::NEW_CANNOT_WRITE, part, reasonOf(closed));
        return false;
    }
    if (const HostStatus named = s.env.renameNoReplace(part, o.repairPath); !named.ok()) {
        repair->failure = failureLine(texts::NEW_CANNOT_NAME, part, reasonOf(named));
        return false;
    }
    repair->written = true;
    return true;
}

}  // namespace z18::fsck
