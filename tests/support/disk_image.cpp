#include "support/disk_image.h"

#include <algorithm>
#include <cstring>

namespace z18test {

namespace {
std::size_t entryOffset(int index) {
    return z18::DIRECTORY_OFFSET + static_cast<std::size_t>(index) * z18::ENTRY_SIZE;
}
}  // namespace

Bytes blankImage() { return Bytes(z18::IMAGE_SIZE, z18::FILLER_BYTE); }

Bytes makeEntry(std::uint8_t user, const std::string& name11, int extent, int recordCount,
                const std::vector<int>& blocks) {
    Bytes e(z18::ENTRY_SIZE, 0);
    e[z18::entry::USER] = user;
    for (std::size_t i = 0; i < 11; ++i)
        e[z18::entry::NAME + i] = static_cast<std::uint8_t>(i < name11.size() ? name11[i] : ' ');
    e[z18::entry::EXTENT] = static_cast<std::uint8_t>(extent);
    e[z18::entry::RECORD_COUNT] = static_cast<std::uint8_t>(recordCount);
    for (std::size_t i = 0; i < blocks.size() && i < static_cast<std::size_t>(z18::BLOCKS_PER_ENTRY); ++i)
        e[z18::entry::BLOCKS + i] = static_cast<std::uint8_t>(blocks[i]);
    return e;
}

void putEntry(Bytes& image, int index, std::uint8_t user, const std::string& name11, int extent,
              int recordCount, const std::vector<int>& blocks) {
    const Bytes e = makeEntry(user, name11, extent, recordCount, blocks);
    std::copy(e.begin(), e.end(), entryIn(image, index));
}

std::string withBits(std::string name11, std::initializer_list<int> positions) {
    name11.resize(11, ' ');
    for (int p : positions) {
        char& c = name11[static_cast<std::size_t>(p)];
        c = static_cast<char>(c | 0x80);
    }
    return name11;
}

void putBlock(Bytes& image, int block, const Bytes& data, std::size_t from) {
    std::uint8_t* at = image.data() + z18::blockOffset(static_cast<unsigned>(block));
    const std::size_t n =
        from >= data.size() ? 0 : std::min<std::size_t>(z18::BLOCK_SIZE, data.size() - from);
    std::memset(at, 0, z18::BLOCK_SIZE);
    if (n > 0) std::memcpy(at, data.data() + from, n);
}

Bytes imageOfFiles(const std::vector<std::string>& names, const std::string& text) {
    Bytes image = blankImage();
    for (std::size_t i = 0; i < names.size(); ++i) {
        const int block = static_cast<int>(i) + 1;
        putEntry(image, static_cast<int>(i), 0, names[i], 0, 1, {block});
        putBlock(image, block, Bytes(text.begin(), text.end()));
    }
    return image;
}

std::uint8_t* entryIn(Bytes& image, int index) { return image.data() + entryOffset(index); }

Bytes entryBytes(const Bytes& image, int index) {
    const std::uint8_t* at = image.data() + entryOffset(index);
    return Bytes(at, at + z18::ENTRY_SIZE);
}

Bytes blockBytes(const Bytes& image, int block) {
    const auto at = image.begin() + static_cast<long>(z18::blockOffset(static_cast<unsigned>(block)));
    return Bytes(at, at + z18::BLOCK_SIZE);
}

Bytes blocksData(const Bytes& image, int first, int count) {
    Bytes r;
    for (int b = first; b < first + count; ++b) r = concat(r, blockBytes(image, b));
    return r;
}

Bytes directoryOf(const Bytes& image) {
    if (image.size() < z18::DIRECTORY_OFFSET + z18::DIRECTORY_SIZE) return Bytes();
    const auto at = image.begin() + static_cast<long>(z18::DIRECTORY_OFFSET);
    return Bytes(at, at + z18::DIRECTORY_SIZE);
}

Bytes concat(const Bytes& a, const Bytes& b) {
    Bytes r(a);
    r.insert(r.end(), b.begin(), b.end());
    return r;
}

Bytes padded(Bytes data, std::size_t unit) {
    data.resize((data.size() + unit - 1) / unit * unit, 0);
    return data;
}

}  // namespace z18test
