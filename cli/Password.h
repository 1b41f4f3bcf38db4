#pragma once
// Where the command line's password comes from: never its own arguments,
// where every user of the machine could read it in the process list.

#include <optional>
#include <string>

namespace cli {

// From --password-file when given, else ISC_PASSWORD, else asked on the
// controlling terminal without echo. Nothing when none of these gives one;
// `error` then says why.
std::optional<std::string> ObtainPassword(const std::string& passwordFile, std::string& error);

// Puts the terminal's echo back if a password question left it off; safe to
// call from the thread that handles an interruption.
void RestoreTerminalEcho();

}  // namespace cli
