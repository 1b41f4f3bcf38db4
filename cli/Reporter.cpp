#include "cli/Reporter.h"

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "restore/Figures.h"

namespace cli {

namespace {

using json = nlohmann::ordered_json;

// Plain progress lines, for a log rather than a screen, come this seldom.
constexpr std::chrono::milliseconds kPlainInterval{10000};

std::string Dump(const json& object) {
    // Server lines are not always valid UTF-8; a bad byte must not end the run.
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

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

}  // namespace

void RecordCounter::Line(const std::string& line) {
    if (line.find("restoring data for table") != std::string::npos) {
        done_ += current_;
        current_ = 0;
        return;
    }
    const std::size_t at = line.find(" records restored");
    if (at == std::string::npos)
        return;
    std::size_t begin = at;
    while (begin > 0 && line[begin - 1] >= '0' && line[begin - 1] <= '9') --begin;
    if (begin == at)
        return;
    current_ = std::strtoll(line.c_str() + begin, nullptr, 10);
    known_ = true;
}

Reporter::Reporter(bool json, bool verbose, bool terminal, std::FILE* out, std::FILE* err)
    : json_(json), verbose_(verbose), terminal_(terminal), out_(out), err_(err) {}

void Reporter::Json(const std::string& object) {
    std::fputs(object.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void Reporter::ClearProgressLine() {
    if (progressShown_) {
        std::fputs("\r\033[K", err_);
        progressShown_ = false;
    }
}

void Reporter::Text(const std::string& line) {
    ClearProgressLine();
    std::fputs(line.c_str(), err_);
    std::fputc('\n', err_);
    std::fflush(err_);
}

void Reporter::Connected() {
    if (json_)
        Json(Dump({{"event", "connected"}}));
}

void Reporter::TargetMovedAside(const std::string& target, const std::string& aside) {
    if (json_)
        Json(Dump({{"event", "target_moved_aside"}, {"target", target}, {"aside", aside}}));
    else
        Text("moved the existing target aside: " + aside);
}

void Reporter::Started() {
    if (json_)
        Json(Dump({{"event", "started"}}));
}

void Reporter::OutputLine(const std::string& line) {
    records_.Line(line);
    if (json_)
        Json(Dump({{"event", "output"}, {"line", line}}));
    if (verbose_ && !line.empty())
        Text(line);
}

void Reporter::Progress(const restore::ProgressFigures& figures) {
    last_ = figures;
    const double seconds = static_cast<double>(figures.elapsed.count()) / 1000.0;
    const double rate = seconds > 0 && figures.targetBytes > 0
                            ? static_cast<double>(figures.targetBytes) / seconds
                            : 0;
    if (json_) {
        json event = {{"event", "progress"},
                      {"elapsed_ms", figures.elapsed.count()},
                      {"target_bytes", figures.targetBytes},
                      {"bytes_per_second", static_cast<std::int64_t>(rate)}};
        if (records_.Known())
            event["records"] = records_.Total();
        Json(Dump(event));
        return;
    }
    std::string line = "restoring  " + restore::FormatElapsed(figures.elapsed);
    if (figures.targetBytes >= 0)
        line += "  " + restore::FormatSize(figures.targetBytes) + "  " +
                restore::FormatSize(static_cast<std::int64_t>(rate)) + "/s";
    if (records_.Known())
        line += "  " + std::to_string(records_.Total()) + " records";
    if (terminal_) {
        ClearProgressLine();
        std::fputs(line.c_str(), err_);
        std::fflush(err_);
        progressShown_ = true;
    } else if (lastPlain_.count() < 0 || figures.elapsed - lastPlain_ >= kPlainInterval) {
        lastPlain_ = figures.elapsed;
        Text(line);
    }
}

void Reporter::Checked(const std::string& attributes) {
    if (json_)
        Json(Dump({{"event", "checked"}, {"attributes", attributes}}));
}

void Reporter::Finished(restore::OriginalFate fate, const std::string& leftoverPath) {
    if (json_) {
        Json(Dump({{"event", "finished"},
                   {"ok", true},
                   {"exit_code", 0},
                   {"elapsed_ms", last_.elapsed.count()},
                   {"target_bytes", last_.targetBytes},
                   {"original", restore::FateName(fate)},
                   {"original_path", leftoverPath}}));
        return;
    }
    Text("restored; the database is online");
    if (!leftoverPath.empty())
        Text("tovanel-restore: the replaced database's copy could not be deleted: " + leftoverPath);
}

void Reporter::Failed(const std::string& message, restore::OriginalFate fate,
                      const std::string& originalPath) {
    if (json_) {
        Json(Dump({{"event", "failed"},
                   {"ok", false},
                   {"exit_code", FailureExitCode(fate)},
                   {"error", message},
                   {"original", restore::FateName(fate)},
                   {"original_path", originalPath}}));
        return;
    }
    Text("tovanel-restore: " + OneLine(message));
    const std::string fateText = FateText(fate, originalPath);
    if (!fateText.empty())
        Text("tovanel-restore: " + fateText);
}

void Reporter::Notice(const std::string& text) {
    if (json_)
        Json(Dump({{"event", "notice"}, {"text", text}}));
    else
        Text("tovanel-restore: " + text);
}

void Reporter::Refused(const std::string& message) {
    if (json_) {
        Json(Dump({{"event", "failed"},
                   {"ok", false},
                   {"exit_code", 2},
                   {"error", message},
                   {"original", restore::FateName(restore::OriginalFate::Untouched)},
                   {"original_path", ""}}));
        return;
    }
    Text("tovanel-restore: " + message);
}

int FailureExitCode(restore::OriginalFate fate) {
    return fate == restore::OriginalFate::KeptAside ? 3 : 1;
}

}  // namespace cli
