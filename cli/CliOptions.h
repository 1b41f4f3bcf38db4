#pragma once
// The command line of tovanel-restore, and the checks that need no server.

#include <optional>
#include <string>

namespace cli {

struct Options {
    std::string backup;
    std::string target;
    bool replace = false;
    std::string server;  // HOST or HOST/PORT; empty: the local server
    std::string user;    // empty: ISC_USER, else SYSDBA
    std::string passwordFile;
    int pageSize = 4096;
    int buffers = 0;
    bool verbose = false;
    bool json = false;
};

// What parsing came to: options to run with, or an exit code and the text
// to print (help on stdout with 0, a usage error on stderr with 2).
struct ParseResult {
    std::optional<Options> options;
    int exitCode = 0;
    std::string text;
};

ParseResult ParseCommandLine(int argc, const char* const* argv);

// The local checks before anything is touched: an empty text when the
// request may go ahead, else why not. Paths on a remote server are the
// server's, so only the combination of options is checked then.
std::string CheckRequest(const Options& options);

}  // namespace cli
