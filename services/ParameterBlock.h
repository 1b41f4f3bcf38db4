#pragma once
// The byte blocks the services manager reads: the attach block, the start
// block of an action and the items sent with a query. Every block is handed
// to the client library with a 16-bit length, and every text item carries
// its own length field, so the writer refuses what would not fit rather than
// let the server read a block cut short (perhaps in the middle of a password).
//
// Integers go little-endian, as the server reads them on every platform.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "services/fib.h"

class TParameterBlock {
  public:
    static constexpr std::size_t kMaxLength = 65535;
    static constexpr std::size_t kMaxShortText = 255;
    static constexpr std::size_t kMaxText = 65535;

    // `limitError` is the client error raised for anything that does not
    // fit: it belongs to the use of the block (attach, start, query).
    explicit TParameterBlock(ClientErrorCode limitError) : limitError_(limitError) {}

    // One byte on its own: a version byte, an action code or a flag item.
    void AddTag(std::uint8_t tag);
    // Item code and a four-byte integer.
    void AddInteger(std::uint8_t item, std::int32_t value);
    // Item code, a two-byte length of 4, and the four-byte integer: the
    // form of the items sent with a query.
    void AddSizedInteger(std::uint8_t item, std::int32_t value);
    // Item code, a one-byte length and the bytes (attach block).
    void AddShortText(std::uint8_t item, std::string_view text);
    // Item code, a two-byte length and the bytes (start block).
    void AddText(std::uint8_t item, std::string_view text);

    const std::string& Bytes() const { return bytes_; }
    bool Empty() const { return bytes_.empty(); }
    std::size_t Size() const { return bytes_.size(); }
    void Clear() { bytes_.clear(); }
    // Hands the bytes over and leaves the block empty.
    std::string Take();

  private:
    // Raises the limit error, leaving the block as it was, unless `extra`
    // more bytes still fit.
    void Reserve(std::size_t extra) const;
    void PutLittleEndian(std::uint32_t value, int bytes);

    ClientErrorCode limitError_;
    std::string bytes_;
};
