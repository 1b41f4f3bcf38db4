#pragma once
// Trimming and letter case for the texts the tool parses itself (parameter
// lines, server output, file and library names): ASCII only, so that they
// never depend on the process's locale and leave UTF-8 bytes alone.

#include <string>
#include <string_view>

namespace core {

// Space and every control character below it count as blanks.
bool IsBlank(char c);
// The text without blanks at either end.
std::string Trim(std::string_view text);

char UpperAscii(char c);
char LowerAscii(char c);
std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);

}  // namespace core
