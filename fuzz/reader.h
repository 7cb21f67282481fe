// How the fuzz targets take bytes from their input: front to back; past the end everything reads
// as zero.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
    bool more() const { return at_ < size_; }
    std::size_t le(int bytes) {
        std::size_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= static_cast<std::size_t>(u8()) << (8 * i);
        return v;
    }
    std::string text(std::size_t n) {
        n = std::min(n, size_ - at_);
        std::string s(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return s;
    }
    // Copies up to n bytes to dest; returns how many there were.
    std::size_t copy(std::size_t n, std::uint8_t* dest) {
        n = std::min(n, size_ - at_);
        if (n > 0) std::memcpy(dest, data_ + at_, n);
        at_ += n;
        return n;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};
