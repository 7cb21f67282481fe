#include "image/image_file.h"

#include <cstring>

#include "image/texts.h"
#include "session/status.h"

namespace z18 {

namespace {

// A Z80 stub at 0x0080 that prints the message below through the ROM and halts, then the
// loader entry at 0x0100.
constexpr std::uint8_t kBootCode[] = {0x21, 0x90, 0x00, 0x4E, 0xE5, 0xCD, 0x52, 0xFF, 0xE1, 0x23,
                                      0x7E, 0xA7, 0xC2, 0x83, 0x00, 0x76, 0x1F, 0x1B, 0x2C, 0x22};
constexpr char kBootText[] = "This disk don`t contain bootable system";
constexpr std::uint8_t kLoaderCode[] = {0x31, 0x00, 0xBF, 0xCD, 0x1F, 0xF9, 0xC3, 0x40, 0xEC};
constexpr std::size_t kLoaderOffset = 128;

struct BootAreaBuilder {
    std::uint8_t bytes[BOOT_AREA_SIZE] = {};
    BootAreaBuilder() {
        std::memcpy(bytes, kBootCode, sizeof kBootCode);
        std::memcpy(bytes + sizeof kBootCode, kBootText, sizeof kBootText);  // with terminator
        std::memcpy(bytes + kLoaderOffset, kLoaderCode, sizeof kLoaderCode);
    }
};
static_assert(sizeof kBootCode + sizeof kBootText == 60, "text ends at offset 59");
const BootAreaBuilder kBootArea;
}  // namespace

const char SIGNATURE_TEXT[] =
    "This disk was formated with \"Z18-MANAGER utility\""
    " - z18man, the POSIX Z18 image manager";
static_assert(sizeof SIGNATURE_TEXT == 88, "49 + 38 characters and a terminator");

const std::uint8_t* bootAreaBytes() { return kBootArea.bytes; }

int readFileAt(Session& s, int handle, std::uint64_t offset, void* dest, std::size_t n, StatusCode failure) {
    if (!readExactly(s.env, handle, offset, dest, n, &s.transferCount).ok()) {
        reportStatus(s, failure);
        return 0;
    }
    return 1;
}

int writeFileAt(Session& s, int handle, std::uint64_t offset, const void* src, std::size_t n,
                StatusCode failure) {
    if (!writeExactly(s.env, handle, offset, src, n, &s.transferCount).ok()) {
        reportStatus(s, failure);
        return 0;
    }
    return 1;
}

int readImageAt(Session& s, std::uint64_t offset, void* dest, std::size_t n) {
    return readFileAt(s, s.imageHandle, offset, dest, n, ST_IMAGE_READ);
}

int writeImageAt(Session& s, std::uint64_t offset, const void* src, std::size_t n) {
    if (s.flushFailed) return 0;  // nothing more reaches the image (the failure was reported)
    s.imageUnflushed = true;      // a failed write may still have changed some bytes
    return writeFileAt(s, s.imageHandle, offset, src, n, ST_IMAGE_WRITE);
}

int writeFileBlock(Session& s, std::uint8_t block) {
    if (s.clearUnflushed && !flushImage(s)) return 0;
    s.dataUnflushed = true;
    return writeImageAt(s, blockOffset(block), s.transferBuffer, BLOCK_SIZE);
}

int flushImage(Session& s) {
    // A failed flush leaves unknown which writes reached the disk, and a second try may report
    // success without having saved them. It is reported once and nothing else is written.
    if (s.flushFailed) return 0;  // not tried again
    if (!s.imageUnflushed) return 1;
    if (!s.env.flush(s.imageHandle).ok()) {
        s.flushFailed = true;
        reportStatus(s, ST_IMAGE_WRITE);
        return 0;
    }
    s.imageUnflushed = s.dataUnflushed = s.clearUnflushed = false;
    return 1;
}

void nameImage(Session& s, const std::string& text) {
    const std::size_t slash = text.find_last_of("\\/");
    s.imageDir = slash == std::string::npos ? std::string() : text.substr(0, slash + 1);
    s.imageName = slash == std::string::npos ? text : text.substr(slash + 1);
    const std::string ext = texts::IMAGE_EXTENSION;
    const std::size_t dot = s.imageName.rfind('.');
    if (dot == std::string::npos || s.imageName.compare(dot, std::string::npos, ext) != 0) s.imageName += ext;
}

int openImage(Session& s, bool creationAllowed) {
    const std::string path = s.imageDir + s.imageName;
    // A request that only reads leaves a write-protected image usable and lets other readers in;
    // one that writes holds the image alone.
    const bool writes = (s.options & optionsWith(trait::WRITES_IMAGE)) != 0;
    const OpenMode mode = creationAllowed ? OpenMode::ImageCreate
                          : writes        ? OpenMode::ImageWrite
                                          : OpenMode::ImageRead;
    s.imageHandle = s.env.openFile(path, mode).valueOr(CLOSED_HANDLE);
    if (s.imageHandle == CLOSED_HANDLE) {
        reportStatus(s, creationAllowed ? ST_IMAGE_EXISTS : ST_IMAGE_OPEN);
        return 0;
    }

    std::uint64_t size = s.env.fileSize(s.imageHandle).valueOr(~std::uint64_t{0});
    if (creationAllowed && size == 0) {
        s.options |= OPT_NEW_IMAGE;
        std::memset(s.transferBuffer, FILLER_BYTE, SECTOR_SIZE);
        for (int i = 0; i < SECTOR_COUNT; ++i) {
            if (!writeImageAt(s, static_cast<std::uint64_t>(i) * SECTOR_SIZE, s.transferBuffer, SECTOR_SIZE))
                return 0;
        }
        s.out << texts::IMAGE_CREATED_1 << visible(s.imageName) << texts::IMAGE_CREATED_2;
        size = IMAGE_SIZE;
    }
    if (size != IMAGE_SIZE) {
        reportStatus(s, ST_IMAGE_BAD_SIZE);
        return 0;
    }
    return 1;
}

int writeBootArea(Session& s) {
    std::memcpy(s.transferBuffer, kBootArea.bytes, BOOT_AREA_SIZE);
    if (!writeImageAt(s, 0, s.transferBuffer, BOOT_AREA_SIZE)) return 0;
    std::memset(s.transferBuffer, 0, SIGNATURE_SIZE);
    std::memcpy(s.transferBuffer, SIGNATURE_TEXT, sizeof SIGNATURE_TEXT);
    if (!writeImageAt(s, SIGNATURE_OFFSET, s.transferBuffer, SIGNATURE_SIZE)) return 0;
    s.out << texts::IMAGE_FORMATTED_1 << visible(s.imageName) << texts::IMAGE_FORMATTED_2;
    return 1;
}

int clearDirectory(Session& s) {
    std::memset(s.transferBuffer, FILLER_BYTE, DIRECTORY_SIZE);
    if (!writeImageAt(s, DIRECTORY_OFFSET, s.transferBuffer, DIRECTORY_SIZE)) return 0;
    // Only an image made by this run has a directory that never named a block. (A full format
    // alone carries OPT_NEW_IMAGE from the command line as well, but it adds no data.)
    s.clearUnflushed = (s.options & OPT_NEW_IMAGE) == 0;
    return 1;
}

void closeImage(Session& s) {
    // A close that fails loses nothing here: every write that mattered was flushed and checked.
    if (s.imageHandle != CLOSED_HANDLE) (void)s.env.closeFile(s.imageHandle);
    s.imageHandle = CLOSED_HANDLE;
}

}  // namespace z18
