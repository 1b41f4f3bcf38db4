#include "core/Format.h"

#include <cstdio>

#include "core/Exceptions.h"

namespace {

[[noreturn]] void Invalid(std::string_view templ) {
    throw EConvertError("Format '" + std::string(templ) +
                        "' invalid or incompatible with argument");
}

std::string Pad(std::string body, bool leftAlign, std::size_t width, char fill) {
    if (body.size() >= width)
        return body;
    std::string padding(width - body.size(), fill);
    if (leftAlign)
        return body + std::string(width - body.size(), ' ');
    if (fill == '0' && !body.empty() && body[0] == '-')
        return "-" + padding + body.substr(1);
    return padding + body;
}

}  // namespace

std::string Format(std::string_view templ, std::initializer_list<FormatArg> args) {
    return Format(templ, args.begin(), args.size());
}

std::string Format(std::string_view templ, const FormatArg* args, std::size_t count) {
    std::string out;
    out.reserve(templ.size() + 32);
    std::size_t next = 0;
    for (std::size_t i = 0; i < templ.size(); ++i) {
        char c = templ[i];
        if (c != '%') {
            out += c;
            continue;
        }
        std::size_t start = i++;
        if (i >= templ.size())
            Invalid(templ);
        if (templ[i] == '%') {
            out += '%';
            continue;
        }
        bool leftAlign = false;
        char fill = ' ';
        for (; i < templ.size() && (templ[i] == '-' || templ[i] == '0'); ++i) {
            if (templ[i] == '-')
                leftAlign = true;
            else
                fill = '0';
        }
        std::size_t width = 0;
        for (; i < templ.size() && templ[i] >= '0' && templ[i] <= '9'; ++i)
            width = width * 10 + static_cast<std::size_t>(templ[i] - '0');
        bool hasPrecision = false;
        std::size_t precision = 0;
        if (i < templ.size() && templ[i] == '.') {
            hasPrecision = true;
            for (++i; i < templ.size() && templ[i] >= '0' && templ[i] <= '9'; ++i)
                precision = precision * 10 + static_cast<std::size_t>(templ[i] - '0');
        }
        if (i >= templ.size())
            Invalid(templ);
        char kind = templ[i];
        if (next >= count)
            Invalid(templ.substr(start));
        const FormatArg& arg = args[next++];
        std::string body;
        switch (kind) {
            case 's':
                if (!arg.IsText())
                    Invalid(templ);
                body = arg.Text();
                if (hasPrecision && body.size() > precision)
                    body.resize(precision);
                break;
            case 'd':
            case 'u': {
                if (arg.IsText())
                    Invalid(templ);
                std::int64_t v = arg.Integer();
                bool negative = v < 0;
                unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(v)
                                                        : static_cast<unsigned long long>(v);
                std::string digits = std::to_string(magnitude);
                if (hasPrecision && digits.size() < precision)
                    digits.insert(0, precision - digits.size(), '0');
                body = (negative ? "-" : "") + digits;
                break;
            }
            case 'x':
            case 'X': {
                if (arg.IsText())
                    Invalid(templ);
                // Hex shows the 32-bit pattern of the value, as the platform's
                // error codes are 32-bit words.
                auto v = static_cast<std::uint32_t>(arg.Integer());
                char buf[16];
                std::snprintf(buf, sizeof buf, kind == 'x' ? "%x" : "%X", v);
                body = buf;
                if (hasPrecision && body.size() < precision)
                    body.insert(0, precision - body.size(), '0');
                break;
            }
            default:
                Invalid(templ);
        }
        out += Pad(std::move(body), leftAlign, width, hasPrecision ? ' ' : fill);
    }
    return out;
}
