// The JSON form: one object per event on stdout, for scripts.

#include <cmath>
#include <nlohmann/json.hpp>

#include "cli/Reporter.h"

namespace cli {

namespace {

using json = nlohmann::ordered_json;

template <class T>
json OrNull(const std::optional<T>& value) {
    return value ? json(*value) : json(nullptr);
}

class JsonReporter final : public Reporter {
  public:
    JsonReporter(bool verbose, std::FILE* out) : verbose_(verbose), out_(out) {}

    void Connected() override { Write({{"event", "connected"}}); }
    void TargetMovedAside(const std::string& target, const std::string& aside) override {
        Write({{"event", "target_moved_aside"}, {"target", target}, {"aside", aside}});
    }
    void Started() override { Write({{"event", "started"}}); }
    void OutputLine(const std::string& line) override {
        if (verbose_)
            Write({{"event", "output"}, {"line", line}});
    }
    void Progress(const restore::ProgressFigures& figures) override {
        last_ = figures;
        std::optional<double> percent;
        if (figures.percent)  // one decimal is all a reader needs
            percent = std::floor(*figures.percent * 10) / 10;
        std::optional<std::int64_t> eta;
        if (figures.eta)
            eta = figures.eta->count();
        json event = {
            {"event", "progress"},
            {"phase", restore::PhaseName(figures.phase)},
            {"elapsed_ms", figures.elapsed.count()},
            {"phase_elapsed_ms", figures.phaseElapsed.count()},
            {"input_bytes", figures.inputBytes >= 0 ? json(figures.inputBytes) : json(nullptr)},
            {"input_total", OrNull(figures.inputTotal)},
            {"percent", OrNull(percent)},
            {"eta_ms", OrNull(eta)},
            {"bytes_per_second", static_cast<std::int64_t>(figures.bytesPerSecond)},
            {"target_bytes", figures.targetBytes}};
        if (figures.records >= 0)
            event["records"] = figures.records;
        if (!figures.index.empty())
            event["index"] = figures.index;
        Write(event);
    }
    void Stopping(restore::StopEffect effect) override {
        const bool ending = effect == restore::StopEffect::EndingInput;
        Write({{"event", "notice"},
               {"stop", ending ? "ending_input" : "cannot_stop"},
               {"text", ending ? "interrupted: the backup's input ends and the server abandons "
                                 "the restore; interrupt again to leave now"
                               : "interrupted: the server cannot stop the restore; waiting for "
                                 "its end; interrupt again to leave now"}});
    }
    void Checked(const std::string& attributes) override {
        Write({{"event", "checked"}, {"attributes", attributes}});
    }
    void Finished(restore::OriginalFate fate, const std::string& leftoverPath) override {
        Write({{"event", "finished"},
               {"ok", true},
               {"exit_code", 0},
               {"elapsed_ms", last_.elapsed.count()},
               {"target_bytes", last_.targetBytes},
               {"original", restore::FateName(fate)},
               {"original_path", leftoverPath}});
    }
    void Failed(const restore::FailureFacts& facts) override {
        Write({{"event", "failed"},
               {"ok", false},
               {"exit_code", ExitCode(facts)},
               {"error", facts.error ? Describe(facts.error) : facts.message},
               {"cancelled", facts.cancelled},
               {"original", restore::FateName(facts.fate)},
               {"original_path", facts.originalPath}});
    }
    void Notice(const std::string& text) override { Write({{"event", "notice"}, {"text", text}}); }
    void Refused(const std::string& message) override {
        Write({{"event", "failed"},
               {"ok", false},
               {"exit_code", 2},
               {"error", message},
               {"cancelled", false},
               {"original", restore::FateName(restore::OriginalFate::Untouched)},
               {"original_path", ""}});
    }

  private:
    void Write(const json& object) {
        // Server lines are not always valid UTF-8; a bad byte must not end the run.
        const std::string line = object.dump(-1, ' ', false, json::error_handler_t::replace);
        std::fputs(line.c_str(), out_);
        std::fputc('\n', out_);
        std::fflush(out_);
    }

    bool verbose_;
    std::FILE* out_;
    restore::ProgressFigures last_;
};

}  // namespace

std::unique_ptr<Reporter> MakeJsonReporter(bool verbose, std::FILE* out) {
    return std::make_unique<JsonReporter>(verbose, out);
}

}  // namespace cli
