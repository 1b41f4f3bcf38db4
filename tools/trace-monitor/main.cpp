// trace-monitor: watches the trace texts the services client hands to
// monitor programs, and prints each with its time and category.
//
//   trace-monitor [--prefix P] [--chunks N] [--timeout MS] [--service-only] [--records]
//
// --prefix P      name prefix of the shared objects (tests use their own)
// --chunks N      leave after N chunks
// --timeout MS    leave after MS milliseconds
// --service-only  register as a monitor only, not for any listener kind
// --records       machine-readable output: for each chunk the line
//                 "chunk <category> <timestamp> <length>" and then exactly
//                 <length> bytes and a line feed
//
// Ctrl-C unregisters and leaves.

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "TraceReader.h"
#include "core/Exceptions.h"
#include "platform/ipc/NamedObjects.h"
#include "services/FIBSQLMonitor.h"

namespace {

std::atomic<bool> stopRequested{false};

void OnSignal(int) {
    stopRequested = true;
}

// Days since 1899-12-30 (local time) as "YYYY-MM-DD hh:mm:ss.zzz".
std::string FormatTimestamp(double days) {
    using namespace std::chrono;
    if (!(days > -700000.0 && days < 3000000.0))
        return "(invalid time)";
    const auto wholeDays = static_cast<long>(std::floor(days));
    auto ms = static_cast<long long>((days - static_cast<double>(wholeDays)) * 86400000.0 + 0.5);
    const year_month_day date{sys_days{year{1899} / December / 30} + std::chrono::days{wholeDays}};
    ms = std::min(ms, 86399999LL);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02lld:%02lld:%02lld.%03lld",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                  ms % 1000);
    return text;
}

std::string CategoryName(std::int32_t category) {
    switch (category) {
        case trace_transport::kConnectCategory:
            return "connect";
        case trace_transport::kServiceCategory:
            return "service";
        default:
            return "category " + std::to_string(category);
    }
}

struct Options {
    long long chunksWanted = -1;  // -1: no limit
    long long timeoutMs = -1;     // -1: no limit
    bool allKinds = true;
    bool records = false;
};

// False on an argument it does not know.
bool ParseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--prefix" && hasValue) {
            platform::ipc::SetNamePrefix(argv[++i]);
        } else if (arg == "--chunks" && hasValue) {
            options.chunksWanted = std::atoll(argv[++i]);
        } else if (arg == "--timeout" && hasValue) {
            options.timeoutMs = std::atoll(argv[++i]);
        } else if (arg == "--service-only") {
            options.allKinds = false;
        } else if (arg == "--records") {
            options.records = true;
        } else {
            return false;
        }
    }
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: trace-monitor [--prefix P] [--chunks N] [--timeout MS] "
                 "[--service-only] [--records]\n");
    return 2;
}

// Ctrl-C and a polite kill end the loop, so that the monitor unregisters.
void StopOnSignals() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void PrintChunk(const TraceChunk& chunk, bool records) {
    if (records) {
        std::printf("chunk %d %.17g %d\n", chunk.category, chunk.timestamp,
                    static_cast<int>(chunk.bytes.size()));
        std::fwrite(chunk.bytes.data(), 1, chunk.bytes.size(), stdout);
        std::fputc('\n', stdout);
    } else if (chunk.bytes.empty()) {
        std::printf("[%s] %s: chunk with invalid length %d skipped\n",
                    FormatTimestamp(chunk.timestamp).c_str(), CategoryName(chunk.category).c_str(),
                    chunk.announcedLength);
    } else {
        std::string text;
        for (char c : chunk.bytes) {
            if (c != '\r')
                text += c;
        }
        std::printf("[%s] %s:%s\n", FormatTimestamp(chunk.timestamp).c_str(),
                    CategoryName(chunk.category).c_str(), text.c_str());
    }
    std::fflush(stdout);
}

// How long the next wait for a chunk may take; nothing once the time is up.
std::optional<std::chrono::milliseconds> NextWait(const Options& options,
                                                  std::chrono::steady_clock::time_point start) {
    auto wait = std::chrono::milliseconds(500);
    if (options.timeoutMs < 0)
        return wait;
    const auto left = std::chrono::milliseconds(options.timeoutMs) -
                      std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start);
    if (left.count() <= 0)
        return std::nullopt;
    return std::min(wait, left);
}

void ReadUntilDone(TraceReader& reader, const Options& options) {
    const auto start = std::chrono::steady_clock::now();
    long long received = 0;
    while (!stopRequested && (options.chunksWanted < 0 || received < options.chunksWanted)) {
        const std::optional<std::chrono::milliseconds> wait = NextWait(options, start);
        if (!wait)
            break;
        if (std::optional<TraceChunk> chunk = reader.Next(*wait, stopRequested)) {
            ++received;
            PrintChunk(*chunk, options.records);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseArguments(argc, argv, options))
        return Usage();
    StopOnSignals();
    try {
        TraceReader reader;
        if (!reader.Register(options.allKinds, stopRequested))
            return 0;
        std::fprintf(stderr, "trace-monitor: registered\n");
        ReadUntilDone(reader, options);
        reader.Unregister();
    } catch (const Exception& e) {
        std::fprintf(stderr, "trace-monitor: %s\n", e.Message().c_str());
        return 1;
    }
    return 0;
}
