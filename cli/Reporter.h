#pragma once
// What tovanel-restore tells its user while it restores, in one of two
// forms chosen once: text on stderr (a progress line redrawn in place on a
// terminal, plain lines otherwise), or one JSON object per event on stdout.

#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "restore/RestoreEvents.h"

namespace cli {

class Reporter : public restore::IProgressSink {
  public:
    // A message of the program's own.
    virtual void Notice(const std::string& text) = 0;
    // A failure before the restore was tried: nothing was touched.
    virtual void Refused(const std::string& message) = 0;
};

// `verbose`: the server's lines too; `terminal`: stderr is one.
std::unique_ptr<Reporter> MakeTextReporter(bool verbose, bool terminal, std::FILE* err = stderr);
std::unique_ptr<Reporter> MakeJsonReporter(bool verbose, std::FILE* out = stdout);

// The command line's wording of an error: the restore's own refusals and
// the backup's errors in its words, everything else as its message says.
std::string Describe(const std::exception_ptr& error);

// The exit status a failed restore ends with: 2 for a refused request, 3
// when the original could not be put back, 4 when cancelled, else 1.
int ExitCode(const restore::FailureFacts& facts);

}  // namespace cli
