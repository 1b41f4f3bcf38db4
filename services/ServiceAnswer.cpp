#include "services/ServiceAnswer.h"

#include <ibase.h>

#include <bitset>

#include "services/fib.h"

namespace {

class AnswerWalk {
  public:
    explicit AnswerWalk(std::string_view bytes) : bytes_(bytes) {}

    bool AtEnd() const { return at_ >= bytes_.size(); }
    std::uint8_t Tag() { return static_cast<std::uint8_t>(bytes_[at_++]); }

    // Integers travel little-endian, whatever the platform.
    std::uint32_t Integer(std::size_t width) {
        Need(width);
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < width; ++i)
            value |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes_[at_ + i]))
                     << (8 * i);
        at_ += width;
        return value;
    }

    std::string Text() {
        const std::size_t length = Integer(2);
        Need(length);
        std::string text(bytes_.substr(at_, length));
        at_ += length;
        return text;
    }

  private:
    void Need(std::size_t count) const {
        if (count > bytes_.size() - at_)
            RaiseClientError(UnexpectedOutputValue);
    }

    std::string_view bytes_;
    std::size_t at_ = 0;
};

}  // namespace

TServiceAnswer ReadServiceAnswer(std::string_view answer, std::string_view requested) {
    std::bitset<256> asked;
    for (char item : requested) asked.set(static_cast<std::uint8_t>(item));
    std::bitset<256> read;

    TServiceAnswer result;
    AnswerWalk walk(answer);
    while (!walk.AtEnd()) {
        const std::uint8_t tag = walk.Tag();
        switch (tag) {
            case isc_info_end:
                result.ended = true;
                return result;
            case isc_info_svc_timeout:
                result.timedOut = true;
                continue;
            case isc_info_data_not_ready:
                result.notReady = true;
                continue;
            case isc_info_truncated:
                result.truncated = true;
                continue;
            default:
                break;
        }
        if (!asked.test(tag)) {
            if (read == asked)
                return result;
            RaiseClientError(UnexpectedOutputValue);
        }
        read.set(tag);
        switch (tag) {
            case isc_info_svc_line:
            case isc_info_svc_to_eof:
                result.output = walk.Text();
                break;
            case isc_info_svc_server_version:
                result.serverVersion = walk.Text();
                break;
            case isc_info_svc_running:
                result.running = static_cast<std::int32_t>(walk.Integer(4));
                break;
            case isc_info_svc_stdin:
                result.inputWanted = walk.Integer(4);
                break;
            default:
                // Asked for, but not an item this reader knows how to read.
                RaiseClientError(UnexpectedOutputValue);
        }
    }
    return result;
}
