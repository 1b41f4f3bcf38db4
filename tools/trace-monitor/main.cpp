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

int Usage() {
    std::fprintf(stderr,
                 "usage: trace-monitor [--prefix P] [--chunks N] [--timeout MS] "
                 "[--service-only] [--records]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    long long chunksWanted = -1;
    long long timeoutMs = -1;
    bool allKinds = true;
    bool records = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--prefix" && hasValue) {
            platform::ipc::SetNamePrefix(argv[++i]);
        } else if (arg == "--chunks" && hasValue) {
            chunksWanted = std::atoll(argv[++i]);
        } else if (arg == "--timeout" && hasValue) {
            timeoutMs = std::atoll(argv[++i]);
        } else if (arg == "--service-only") {
            allKinds = false;
        } else if (arg == "--records") {
            records = true;
        } else {
            return Usage();
        }
    }

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    try {
        TraceReader reader;
        if (!reader.Register(allKinds, stopRequested))
            return 0;
        std::fprintf(stderr, "trace-monitor: registered\n");
        const auto start = std::chrono::steady_clock::now();
        long long received = 0;
        while (!stopRequested && (chunksWanted < 0 || received < chunksWanted)) {
            auto wait = std::chrono::milliseconds(500);
            if (timeoutMs >= 0) {
                const auto left = std::chrono::milliseconds(timeoutMs) -
                                  std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - start);
                if (left.count() <= 0)
                    break;
                wait = std::min(wait, left);
            }
            std::optional<TraceChunk> chunk = reader.Next(wait, stopRequested);
            if (!chunk)
                continue;
            ++received;
            if (records) {
                std::printf("chunk %d %.17g %d\n", chunk->category, chunk->timestamp,
                            static_cast<int>(chunk->bytes.size()));
                std::fwrite(chunk->bytes.data(), 1, chunk->bytes.size(), stdout);
                std::fputc('\n', stdout);
            } else if (chunk->bytes.empty()) {
                std::printf("[%s] %s: chunk with invalid length %d skipped\n",
                            FormatTimestamp(chunk->timestamp).c_str(),
                            CategoryName(chunk->category).c_str(), chunk->announcedLength);
            } else {
                std::string text;
                for (char c : chunk->bytes) {
                    if (c != '\r')
                        text += c;
                }
                std::printf("[%s] %s:%s\n", FormatTimestamp(chunk->timestamp).c_str(),
                            CategoryName(chunk->category).c_str(), text.c_str());
            }
            std::fflush(stdout);
        }
        reader.Unregister();
    } catch (const Exception& e) {
        std::fprintf(stderr, "trace-monitor: %s\n", e.Message().c_str());
        return 1;
    }
    return 0;
}
