// The fixed geometry of a .z18 image: 720 sectors of 512 bytes holding a CP/M 2.2 file system.
#pragma once

#include <cstddef>
#include <cstdint>

namespace z18 {

constexpr std::uint32_t IMAGE_SIZE = 368640;
constexpr std::size_t SECTOR_SIZE = 512;
constexpr int SECTOR_COUNT = 720;
constexpr std::size_t BOOT_AREA_SIZE = 256;
constexpr std::uint32_t DIRECTORY_OFFSET = 9216;
constexpr std::size_t DIRECTORY_SIZE = 2048;
constexpr int DIRECTORY_ENTRIES = 64;
constexpr std::size_t ENTRY_SIZE = 32;
constexpr std::size_t BLOCK_SIZE = 2048;
constexpr int BLOCK_COUNT = 175;
constexpr std::size_t RECORD_SIZE = 128;
constexpr int BLOCKS_PER_ENTRY = 16;
constexpr std::uint32_t SIGNATURE_OFFSET = 368512;
constexpr std::size_t SIGNATURE_SIZE = 128;
constexpr std::uint8_t FILLER_BYTE = 0xE5;

constexpr std::size_t ALLOCATION_MAP_SIZE = 22;  // one bit per block, 176 bits
constexpr int RECORDS_PER_BLOCK = static_cast<int>(BLOCK_SIZE / RECORD_SIZE);
constexpr int RECORDS_PER_EXTENT = 128;
constexpr std::size_t NAME_SIZE = 8;  // the name bytes of an entry, space-filled
constexpr std::size_t TYPE_SIZE = 3;
constexpr std::size_t NAME_TYPE_SIZE = NAME_SIZE + TYPE_SIZE;      // the bytes a name pattern covers
constexpr std::size_t KEY_SIZE = 1 + NAME_TYPE_SIZE;               // user byte, name and type
constexpr std::size_t NAME_TEXT_SIZE = NAME_SIZE + 1 + TYPE_SIZE;  // "NAME.EXT" at its longest

// Bit 7 of a name or type byte is an attribute, no part of the character (on the first two type
// bytes: read-only and hidden); CP/M compares names, user bytes and s2 without it.
constexpr std::uint8_t ATTRIBUTE_BIT = 0x80;
constexpr std::uint8_t NO_BIT_7 = 0x7F;

static_assert(SECTOR_SIZE * SECTOR_COUNT == IMAGE_SIZE, "sectors fill the image");
static_assert(DIRECTORY_ENTRIES * ENTRY_SIZE == DIRECTORY_SIZE, "entries fill the directory");

// Byte positions inside a directory entry.
namespace entry {
constexpr std::size_t USER = 0;
constexpr std::size_t NAME = 1;
constexpr std::size_t TYPE = 9;
constexpr std::size_t EXTENT = 12;
constexpr std::size_t S1 = 13;
constexpr std::size_t S2 = 14;
constexpr std::size_t RECORD_COUNT = 15;
constexpr std::size_t BLOCKS = 16;
static_assert(TYPE == NAME + NAME_SIZE && EXTENT == TYPE + TYPE_SIZE, "name and type fill the key");
}  // namespace entry

constexpr std::uint64_t blockOffset(unsigned block) {
    return DIRECTORY_OFFSET + static_cast<std::uint64_t>(block) * BLOCK_SIZE;
}

}  // namespace z18
