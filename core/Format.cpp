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

// One conversion of a template: "%-08.3d" and the like.
struct Spec {
    bool leftAlign = false;
    char fill = ' ';
    std::size_t width = 0;
    bool hasPrecision = false;
    std::size_t precision = 0;
    char kind = 0;
};

std::size_t ReadNumber(std::string_view templ, std::size_t& i) {
    std::size_t value = 0;
    for (; i < templ.size() && templ[i] >= '0' && templ[i] <= '9'; ++i)
        value = value * 10 + static_cast<std::size_t>(templ[i] - '0');
    return value;
}

// Reads the flags, width, precision and kind that follow a '%' at `i`,
// leaving `i` on the kind.
Spec ReadSpec(std::string_view templ, std::size_t& i) {
    Spec spec;
    for (; i < templ.size() && (templ[i] == '-' || templ[i] == '0'); ++i) {
        if (templ[i] == '-')
            spec.leftAlign = true;
        else
            spec.fill = '0';
    }
    spec.width = ReadNumber(templ, i);
    if (i < templ.size() && templ[i] == '.') {
        spec.hasPrecision = true;
        ++i;
        spec.precision = ReadNumber(templ, i);
    }
    if (i >= templ.size())
        Invalid(templ);
    spec.kind = templ[i];
    return spec;
}

std::string Decimal(std::int64_t v, const Spec& spec) {
    const bool negative = v < 0;
    const unsigned long long magnitude =
        negative ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    std::string digits = std::to_string(magnitude);
    if (spec.hasPrecision && digits.size() < spec.precision)
        digits.insert(0, spec.precision - digits.size(), '0');
    return (negative ? "-" : "") + digits;
}

std::string Hex(std::int64_t value, const Spec& spec) {
    // Hex shows the 32-bit pattern of the value, as the platform's error
    // codes are 32-bit words.
    const auto v = static_cast<std::uint32_t>(value);
    char buf[16];
    std::snprintf(buf, sizeof buf, spec.kind == 'x' ? "%x" : "%X", v);
    std::string body = buf;
    if (spec.hasPrecision && body.size() < spec.precision)
        body.insert(0, spec.precision - body.size(), '0');
    return body;
}

// The text of one argument under its conversion, before padding.
std::string Convert(std::string_view templ, const Spec& spec, const FormatArg& arg) {
    const bool wantsText = spec.kind == 's';
    if (spec.kind != 's' && spec.kind != 'd' && spec.kind != 'u' && spec.kind != 'x' &&
        spec.kind != 'X')
        Invalid(templ);
    if (arg.IsText() != wantsText)
        Invalid(templ);
    if (wantsText) {
        std::string body = arg.Text();
        if (spec.hasPrecision && body.size() > spec.precision)
            body.resize(spec.precision);
        return body;
    }
    if (spec.kind == 'd' || spec.kind == 'u')
        return Decimal(arg.Integer(), spec);
    return Hex(arg.Integer(), spec);
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
        const char c = templ[i];
        if (c != '%') {
            out += c;
            continue;
        }
        const std::size_t start = i++;
        if (i >= templ.size())
            Invalid(templ);
        if (templ[i] == '%') {
            out += '%';
            continue;
        }
        const Spec spec = ReadSpec(templ, i);
        if (next >= count)
            Invalid(templ.substr(start));
        std::string body = Convert(templ, spec, args[next++]);
        out +=
            Pad(std::move(body), spec.leftAlign, spec.width, spec.hasPrecision ? ' ' : spec.fill);
    }
    return out;
}
