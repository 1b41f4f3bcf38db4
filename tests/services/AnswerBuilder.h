#pragma once
// Writes a query answer the way the services manager lays it out, so tests
// say what the server answered rather than spell out bytes.

#include <cstdint>
#include <string>
#include <string_view>

class AnswerBuilder {
  public:
    // The item, a two-byte little-endian length, the bytes.
    AnswerBuilder& Text(int item, std::string_view text) {
        Byte(item);
        Little(text.size(), 2);
        bytes_ += text;
        return *this;
    }
    // The item and a four-byte little-endian integer.
    AnswerBuilder& Integer(int item, std::uint32_t value) {
        Byte(item);
        Little(value, 4);
        return *this;
    }
    // A tag on its own: a mark, the end, or any byte a test needs.
    AnswerBuilder& Byte(int tag) {
        bytes_ += static_cast<char>(tag);
        return *this;
    }
    AnswerBuilder& End() { return Byte(1); }

    const std::string& Bytes() const { return bytes_; }

  private:
    void Little(std::uint64_t value, int width) {
        for (int i = 0; i < width; ++i) bytes_ += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    std::string bytes_;
};
