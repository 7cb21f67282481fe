// Images crafted byte by byte in memory, and readers for their entries and blocks: the tests build
// every image they need from these, whatever the tool itself would write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "session/geometry.h"

namespace z18test {

using Bytes = std::vector<std::uint8_t>;

// A fresh image: every byte the filler 0xE5, so its directory is empty.
Bytes blankImage();

// A 32-byte directory entry: user, 11 name characters (filled up with spaces), extent, record
// count and up to 16 block numbers.
Bytes makeEntry(std::uint8_t user, const std::string& name11, int extent, int recordCount,
                const std::vector<int>& blocks);
void putEntry(Bytes& image, int index, std::uint8_t user, const std::string& name11, int extent,
              int recordCount, const std::vector<int>& blocks);
// The 11 name bytes of an entry with bit 7 set at the given positions (0 to 10): read-only is
// position 8, hidden 9.
std::string withBits(std::string name11, std::initializer_list<int> positions);
// Copies data from offset `from` on into block b, zero-filling the rest of the block.
void putBlock(Bytes& image, int block, const Bytes& data, std::size_t from = 0);
// An image of one-record files with the given 11-character names: file i in block i + 1, which
// holds text and zero bytes.
Bytes imageOfFiles(const std::vector<std::string>& names, const std::string& text = "HI\n");

Bytes entryBytes(const Bytes& image, int index);
// Entry `index` in place, for a test that changes single bytes of it.
std::uint8_t* entryIn(Bytes& image, int index);
Bytes blockBytes(const Bytes& image, int block);
// The data of `count` blocks from `first` on, in order.
Bytes blocksData(const Bytes& image, int first, int count);
// The directory area of an image (empty when the image is too short to have one).
Bytes directoryOf(const Bytes& image);

Bytes concat(const Bytes& a, const Bytes& b);
// Data followed by zero bytes up to a multiple of unit: by default whole records, as files come
// back out of an image.
Bytes padded(Bytes data, std::size_t unit = z18::RECORD_SIZE);

}  // namespace z18test
