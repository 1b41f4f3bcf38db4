#pragma once
// printf-style formatting over a typed argument list, so a template read from
// a table can never misread the caller's arguments the way C varargs can.
// Directives: %s, %d, %u, %x/%X with optional flags, width and precision
// ("%.8x"), and %% for a percent sign. Arguments without a directive are
// ignored; a directive without a matching argument raises EConvertError.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

class FormatArg {
  public:
    FormatArg(std::string_view s)
        : value_(std::string(s)) {}                 // NOLINT(google-explicit-constructor)
    FormatArg(const std::string& s) : value_(s) {}  // NOLINT(google-explicit-constructor)
    FormatArg(const char* s) : value_(std::string(s ? s : "")) {}         // NOLINT
    FormatArg(int v) : value_(static_cast<std::int64_t>(v)) {}            // NOLINT
    FormatArg(long v) : value_(static_cast<std::int64_t>(v)) {}           // NOLINT
    FormatArg(long long v) : value_(static_cast<std::int64_t>(v)) {}      // NOLINT
    FormatArg(unsigned v) : value_(static_cast<std::int64_t>(v)) {}       // NOLINT
    FormatArg(unsigned long v) : value_(static_cast<std::int64_t>(v)) {}  // NOLINT

    bool IsText() const { return std::holds_alternative<std::string>(value_); }
    const std::string& Text() const { return std::get<std::string>(value_); }
    std::int64_t Integer() const { return std::get<std::int64_t>(value_); }

  private:
    std::variant<std::string, std::int64_t> value_;
};

std::string Format(std::string_view templ, std::initializer_list<FormatArg> args);
std::string Format(std::string_view templ, const FormatArg* args, std::size_t count);
