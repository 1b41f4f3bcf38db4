// The text form: messages and the progress line on stderr.

#include <chrono>

#include "cli/Reporter.h"
#include "restore/Figures.h"

namespace cli {

namespace {

// Plain progress lines, for a log rather than a screen, come this seldom.
constexpr std::chrono::milliseconds kPlainInterval{10000};

std::string FateText(restore::OriginalFate fate, const std::string& path) {
    switch (fate) {
        case restore::OriginalFate::PutBack:
            return "the original database is back in place, unchanged: " + path;
        case restore::OriginalFate::KeptAside:
            return "the original database could not be put back; it is kept at: " + path;
        case restore::OriginalFate::Untouched:
            return "the original database was not touched";
        default:
            return {};
    }
}

// An error text on one line: the services' texts span several.
std::string OneLine(const std::string& text) {
    std::string line;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string part = text.substr(start, end - start);
        while (!part.empty() && (part.back() == '\r' || part.back() == ' ')) part.pop_back();
        if (!part.empty())
            line += (line.empty() || line.back() == ':' || line.back() == '.' ? " " : ". ") + part;
        start = end + 1;
    }
    return line.empty() ? line : line.substr(1);
}

std::string Rate(double bytesPerSecond) {
    return restore::FormatSize(static_cast<std::int64_t>(bytesPerSecond)) + "/s";
}

// "restoring  0:08  42%  45.3 MB of 106.0 MB  12.4 MB/s  0:11 left", or for
// a pipe without the share and the time left, or for a backup the server
// reads the target's size; then the index phase with its own time.
std::string ProgressLine(const restore::ProgressFigures& figures) {
    std::string line = "restoring  " + restore::FormatElapsed(figures.elapsed);
    if (figures.phase == restore::Phase::Indexes) {
        line += "  backup read; building indexes " + restore::FormatElapsed(figures.phaseElapsed);
        if (!figures.index.empty())
            line += "  " + figures.index;
        return line;
    }
    if (figures.inputBytes >= 0) {
        if (figures.percent)
            line += "  " + std::to_string(static_cast<int>(*figures.percent)) + "%";
        line += "  " + restore::FormatSize(figures.inputBytes);
        if (figures.inputTotal)
            line += " of " + restore::FormatSize(*figures.inputTotal);
        line += "  " + Rate(figures.bytesPerSecond);
        if (figures.eta)
            line += "  " + restore::FormatElapsed(*figures.eta) + " left";
    } else if (figures.targetBytes >= 0) {
        line +=
            "  " + restore::FormatSize(figures.targetBytes) + "  " + Rate(figures.bytesPerSecond);
    }
    if (figures.records >= 0)
        line += "  " + std::to_string(figures.records) + " records";
    return line;
}

class TextReporter final : public Reporter {
  public:
    TextReporter(bool verbose, bool terminal, std::FILE* err)
        : verbose_(verbose), terminal_(terminal), err_(err) {}

    void TargetMovedAside(const std::string&, const std::string& aside) override {
        Text("moved the existing target aside: " + aside);
    }
    void OutputLine(const std::string& line) override {
        if (verbose_ && !line.empty())
            Text(line);
    }
    void Progress(const restore::ProgressFigures& figures) override {
        const std::string line = ProgressLine(figures);
        if (terminal_) {
            ClearProgressLine();
            std::fputs(line.c_str(), err_);
            std::fflush(err_);
            progressShown_ = true;
        } else if (lastPlain_.count() < 0 || figures.elapsed - lastPlain_ >= kPlainInterval ||
                   figures.phase != lastPhase_) {
            lastPlain_ = figures.elapsed;
            lastPhase_ = figures.phase;
            Text(line);
        }
    }
    void Stopping(restore::StopEffect effect) override {
        Notice(effect == restore::StopEffect::EndingInput
                   ? "interrupted: the backup's input ends, so the server abandons the restore "
                     "and the original is put back; interrupt again to leave now (the "
                     "original then stays aside)"
                   : "interrupted: the server cannot stop a restore once it has the whole "
                     "backup, so this waits for it to end and puts the original back if it "
                     "fails; interrupt again to leave now (the server goes on restoring, and "
                     "the original stays aside)");
    }
    void Finished(restore::OriginalFate, const std::string& leftoverPath) override {
        Text("restored; the database is online");
        if (!leftoverPath.empty())
            Text("tovanel-restore: the replaced database's copy could not be deleted: " +
                 leftoverPath);
    }
    void Failed(const restore::FailureFacts& facts) override {
        Text("tovanel-restore: " + OneLine(facts.error ? Describe(facts.error) : facts.message));
        const std::string fateText = FateText(facts.fate, facts.originalPath);
        if (!fateText.empty())
            Text("tovanel-restore: " + fateText);
    }
    void Notice(const std::string& text) override { Text("tovanel-restore: " + text); }
    void Refused(const std::string& message) override { Text("tovanel-restore: " + message); }

  private:
    void Text(const std::string& line) {
        ClearProgressLine();
        std::fputs(line.c_str(), err_);
        std::fputc('\n', err_);
        std::fflush(err_);
    }
    void ClearProgressLine() {
        if (progressShown_) {
            std::fputs("\r\033[K", err_);
            progressShown_ = false;
        }
    }

    bool verbose_, terminal_;
    std::FILE* err_;
    bool progressShown_ = false;
    std::chrono::milliseconds lastPlain_{-1};
    restore::Phase lastPhase_ = restore::Phase::Reading;
};

}  // namespace

std::unique_ptr<Reporter> MakeTextReporter(bool verbose, bool terminal, std::FILE* err) {
    return std::make_unique<TextReporter>(verbose, terminal, err);
}

}  // namespace cli
