#include "services/ParameterBlock.h"

#include <utility>

void TParameterBlock::Reserve(std::size_t extra) const {
    if (extra > kMaxLength - bytes_.size())
        RaiseClientError(limitError_);
}

void TParameterBlock::PutLittleEndian(std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) bytes_ += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void TParameterBlock::AddTag(std::uint8_t tag) {
    Reserve(1);
    bytes_ += static_cast<char>(tag);
}

void TParameterBlock::AddInteger(std::uint8_t item, std::int32_t value) {
    Reserve(5);
    bytes_ += static_cast<char>(item);
    PutLittleEndian(static_cast<std::uint32_t>(value), 4);
}

void TParameterBlock::AddSizedInteger(std::uint8_t item, std::int32_t value) {
    Reserve(7);
    bytes_ += static_cast<char>(item);
    PutLittleEndian(4, 2);
    PutLittleEndian(static_cast<std::uint32_t>(value), 4);
}

void TParameterBlock::AddShortText(std::uint8_t item, std::string_view text) {
    if (text.size() > kMaxShortText)
        RaiseClientError(limitError_);
    Reserve(2 + text.size());
    bytes_ += static_cast<char>(item);
    PutLittleEndian(static_cast<std::uint32_t>(text.size()), 1);
    bytes_ += text;
}

void TParameterBlock::AddText(std::uint8_t item, std::string_view text) {
    if (text.size() > kMaxText)
        RaiseClientError(limitError_);
    Reserve(3 + text.size());
    bytes_ += static_cast<char>(item);
    PutLittleEndian(static_cast<std::uint32_t>(text.size()), 2);
    bytes_ += text;
}

std::string TParameterBlock::Take() {
    return std::exchange(bytes_, std::string());
}
