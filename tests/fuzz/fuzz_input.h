// Turns a fuzzer's bytes into the program's kinds of input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace tarnell::fuzz {

// Reads the input as a run of length-prefixed pieces, so one input can carry several texts.
class Pieces {
  public:
    Pieces(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // The next piece as raw bytes: one length byte, then up to that many bytes; the last piece takes the
    // rest.
    std::string_view NextBytes(bool rest = false) {
        if (pos_ >= size_) return {};
        size_t length = rest ? size_ - pos_ : data_[pos_++];
        if (pos_ + length > size_) length = size_ - pos_;
        std::string_view piece(reinterpret_cast<const char*>(data_ + pos_), length);
        pos_ += length;
        return piece;
    }
    // The next piece as text, decoded from UTF-8 as the program decodes network and resource bytes.
    std::u16string NextText(bool rest = false) { return Utf8ToUtf16(NextBytes(rest)); }
    uint8_t NextByte() { return pos_ < size_ ? data_[pos_++] : 0; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace tarnell::fuzz
