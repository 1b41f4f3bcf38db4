#pragma once
// What tovanel-restore tells its user while it restores: a progress line on
// a terminal (plain lines otherwise) and messages on stderr, or one JSON
// object per event on stdout.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "restore/RestoreEvents.h"

namespace cli {

// Counts the records the server's verbose lines report: each table counts
// up from zero, so the total is the finished tables' sum plus the current.
class RecordCounter {
  public:
    void Line(const std::string& line);
    std::int64_t Total() const { return done_ + current_; }
    bool Known() const { return known_; }

  private:
    std::int64_t done_ = 0;
    std::int64_t current_ = 0;
    bool known_ = false;
};

class Reporter : public restore::IProgressSink {
  public:
    Reporter(bool json, bool verbose, bool terminal, std::FILE* out = stdout,
             std::FILE* err = stderr);

    void Connected() override;
    void TargetMovedAside(const std::string& target, const std::string& aside) override;
    void Started() override;
    void OutputLine(const std::string& line) override;
    void Progress(const restore::ProgressFigures& figures) override;
    void Checked(const std::string& attributes) override;
    void Finished(restore::OriginalFate fate, const std::string& leftoverPath) override;
    void Failed(const std::string& message, restore::OriginalFate fate,
                const std::string& originalPath) override;

    // A message of the program's own (an interruption, say).
    void Notice(const std::string& text);
    // A failure before the restore was tried: nothing was touched.
    void Refused(const std::string& message);

  private:
    void Json(const std::string& object);
    void Text(const std::string& line);
    void ClearProgressLine();

    bool json_, verbose_, terminal_;
    std::FILE* out_;
    std::FILE* err_;
    bool progressShown_ = false;
    restore::ProgressFigures last_;
    std::chrono::milliseconds lastPlain_{-1};
    RecordCounter records_;
};

// The exit status for a restore that ended with `fate` after an error.
int FailureExitCode(restore::OriginalFate fate);

}  // namespace cli
