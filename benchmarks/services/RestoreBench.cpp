// Restores of the same backup on a private server, taking turns, each beside
// the anchor it is measured against:
//   - the window's wait (a status query per turn, the server reading the
//     file) against "gbak -c -se" with the window's page size;
//   - the command line streaming the plain backup, its .gz and its .zst,
//     against "gbak -c -se" reading the file on the server, and against
//     "gzip -dc | gbak -c -se ... stdin" and "zstd -dc | gbak ... stdin";
//     the plain one also against "cat | gbak ... stdin", the same feed by
//     the server's own tool.
// Reports wall time and client and server CPU seconds per run, medians, the
// ratios, and then the cancel latency of a streamed restore: from the
// interrupt to the program's exit with the original back.
//
// Usage: bench_services_restore BACKUP_DIR TARGET_DIR SERVER_PID [RUNS [PAUSE_MS]]
// BACKUP_DIR holds big.fbk, big.fbk.gz and big.fbk.zst; TARGET_DIR is the
// server's folder (the window's backup is the copy there, bench.fbk).
// PAUSE_MS puts a pause between the window wait's status queries (default 0:
// none, as the window polls). tovanel-restore is taken from the folder of
// this program. The client environment (FIREBIRD) must point at the server.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "services/IB_Services.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
    double wall = 0;
    double clientCpu = 0;
    double serverCpu = 0;
    long queries = 0;
};

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
}

double OwnCpu(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

// User plus system time of a process, from /proc.
double ProcessCpu(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

Sample ComponentRestore(const std::string& backup, const std::string& target, long serverPid,
                        int pauseMs) {
    TComponent form(nullptr);
    form.SetName("Main_Form");
    auto* service = new TpFIBRestoreService(&form);
    service->SetName("pFIBRestoreService1");
    service->Params().SetLines({"user_name=SYSDBA", "password=fernstone"});
    service->SetLoginPrompt(false);
    service->SetLibraryName("GDS32.DLL");
    service->SetPageSize(4096);
    service->BackupFile().Add(backup);
    service->DatabaseName().Add(target);

    Sample s;
    const double server0 = ProcessCpu(serverPid);
    const double client0 = OwnCpu(RUSAGE_SELF);
    const auto start = Clock::now();
    service->Attach();
    service->ServiceStart();
    do {
        ++s.queries;
        if (pauseMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    } while (service->IsRunning());
    service->Detach();
    s.wall = std::chrono::duration<double>(Clock::now() - start).count();
    s.clientCpu = OwnCpu(RUSAGE_SELF) - client0;
    s.serverCpu = ProcessCpu(serverPid) - server0;
    return s;
}

// A restore by another program, timed from the outside; a shell's CPU time
// includes that of the pipeline it waited for.
Sample ChildRestore(std::vector<std::string> argv, long serverPid) {
    Sample s;
    const double server0 = ProcessCpu(serverPid);
    const double client0 = OwnCpu(RUSAGE_CHILDREN);
    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        std::vector<char*> args;
        for (std::string& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        ::setenv("ISC_PASSWORD", "fernstone", 1);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    s.wall = std::chrono::duration<double>(Clock::now() - start).count();
    s.clientCpu = OwnCpu(RUSAGE_CHILDREN) - client0;
    s.serverCpu = ProcessCpu(serverPid) - server0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", argv.back().c_str(), status);
        std::exit(1);
    }
    return s;
}

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

std::string GbakFromStdin(const std::string& decompress, const std::string& file,
                          const std::string& target) {
    return decompress + " " + Quoted(file) +
           " | gbak -c -se localhost:service_mgr -user SYSDBA -password fernstone stdin " +
           Quoted(target);
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Cancel {
    double afterSignal = 0;  // seconds from the interrupt to the exit
    double percent = 0;      // how far the restore had come
    int code = -1;
    bool originalBack = false;
    bool folderClean = false;
};

// Streams the backup over an original, interrupts once the progress passes
// `atPercent` and times the way out.
Cancel CancelledRestore(const std::string& cli, const std::string& backup,
                        const std::string& target, double atPercent) {
    namespace fs = std::filesystem;
    const std::string original(1 << 20, 'o');
    std::ofstream(target, std::ios::binary) << original;
    const auto before = std::distance(fs::directory_iterator(fs::path(target).parent_path()),
                                      fs::directory_iterator{});
    int out[2];
    if (::pipe(out) != 0)
        std::exit(1);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        ::setenv("ISC_PASSWORD", "fernstone", 1);
        ::execl(cli.c_str(), cli.c_str(), "--json", "--replace", backup.c_str(), target.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    FILE* events = ::fdopen(out[0], "r");
    Cancel c;
    char line[65536];
    Clock::time_point signalled{};
    while (std::fgets(line, sizeof line, events)) {
        const char* at = std::strstr(line, "\"percent\":");
        if (signalled == Clock::time_point{} && at && std::atof(at + 10) >= atPercent) {
            c.percent = std::atof(at + 10);
            signalled = Clock::now();
            ::kill(child, SIGINT);
        }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    c.afterSignal = std::chrono::duration<double>(Clock::now() - signalled).count();
    std::fclose(events);
    c.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    c.originalBack = ReadWhole(target) == original;
    c.folderClean = std::distance(fs::directory_iterator(fs::path(target).parent_path()),
                                  fs::directory_iterator{}) == before;
    std::remove(target.c_str());
    return c;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

template <class F>
std::vector<double> Column(const std::vector<Sample>& samples, F field) {
    std::vector<double> out;
    for (const Sample& s : samples) out.push_back(field(s));
    return out;
}

// One restore to time, beside the one it is measured against.
struct Kind {
    const char* name;
    int anchor;            // index of the kind it is measured against; -1: it is an anchor
    double goal;           // wall-time ratio it should stay within
    int alsoAgainst = -1;  // a second reference, reported without a goal
};

constexpr Kind kKinds[] = {
    {"window", 1, 0},           // as before: its ratio is reported, no goal
    {"gbak -se 4096", -1, 0},   // the window's stored page size
    {"cli plain", 3, 1.02, 8},  // streamed from here
    {"gbak -se", -1, 0},        // the server reads the file
    {"cli .gz", 5, 1.00},       // decompressed here
    {"gzip|gbak", -1, 0},       // decompressed by gzip, fed by the server's tool
    {"cli .zst", 7, 1.00},      // decompressed here
    {"zstd|gbak", -1, 0},       // decompressed by zstd, fed by the server's tool
    {"cat|gbak", -1, 0},        // the plain backup fed by the server's tool
};
constexpr int kKindCount = sizeof kKinds / sizeof kKinds[0];

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s BACKUP_DIR TARGET_DIR SERVER_PID [RUNS [PAUSE_MS]]\n",
                     argv[0]);
        return 2;
    }
    const std::string from = std::string(argv[1]) + "/big.fbk";
    const std::string serverBackup = std::string(argv[2]) + "/bench.fbk";
    const std::string target = std::string(argv[2]) + "/bench-restore.fdb";
    const long serverPid = std::stol(argv[3]);
    const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;
    const int pauseMs = argc > 5 ? std::max(0, std::atoi(argv[5])) : 0;
    std::string self = argv[0];
    const std::string cli = self.substr(0, self.rfind('/') + 1) + "tovanel-restore";
    const std::vector<std::string> gbak = {"gbak",  "-c",     "-se",       "localhost:service_mgr",
                                           "-user", "SYSDBA", "-password", "fernstone"};
    auto with = [](std::vector<std::string> head, std::initializer_list<std::string> tail) {
        head.insert(head.end(), tail);
        return head;
    };

    std::vector<Sample> samples[kKindCount];
    std::printf("%-4s %-14s %9s %11s %11s %9s\n", "run", "restore", "wall s", "client cpu",
                "server cpu", "queries");
    for (int round = 0; round < runs; ++round) {
        for (int turn = 0; turn < kKindCount; ++turn) {
            // Each round starts with another one, so none always meets a warm cache.
            const int who = (round + turn) % kKindCount;
            std::remove(target.c_str());
            Sample s;
            try {
                switch (who) {
                    case 0:
                        s = ComponentRestore(serverBackup, target, serverPid, pauseMs);
                        break;
                    case 1:
                        s = ChildRestore(with(gbak, {"-page_size", "4096", serverBackup, target}),
                                         serverPid);
                        break;
                    case 2:
                        s = ChildRestore({cli, from, target}, serverPid);
                        break;
                    case 3:
                        s = ChildRestore(with(gbak, {serverBackup, target}), serverPid);
                        break;
                    case 4:
                        s = ChildRestore({cli, from + ".gz", target}, serverPid);
                        break;
                    case 5:
                        s = ChildRestore(
                            {"sh", "-c", GbakFromStdin("gzip -dc", from + ".gz", target)},
                            serverPid);
                        break;
                    case 6:
                        s = ChildRestore({cli, from + ".zst", target}, serverPid);
                        break;
                    case 8:
                        s = ChildRestore({"sh", "-c", GbakFromStdin("cat", from, target)},
                                         serverPid);
                        break;
                    default:
                        s = ChildRestore(
                            {"sh", "-c", GbakFromStdin("zstd -qdc", from + ".zst", target)},
                            serverPid);
                }
            } catch (const std::exception& e) {
                std::fprintf(stderr, "component restore failed: %s\n", e.what());
                return 1;
            }
            samples[who].push_back(s);
            std::printf("%-4d %-14s %9.2f %11.3f %11.2f %9ld\n", round + 1, kKinds[who].name,
                        s.wall, s.clientCpu, s.serverCpu, s.queries);
            std::fflush(stdout);
        }
    }
    std::remove(target.c_str());

    auto wall = [](const Sample& s) { return s.wall; };
    auto client = [](const Sample& s) { return s.clientCpu; };
    auto server = [](const Sample& s) { return s.serverCpu; };
    std::printf("\nmedian over %d runs each; window wait's pause between queries %d ms\n", runs,
                pauseMs);
    for (int who = 0; who < kKindCount; ++who)
        std::printf("%-14s wall %6.2f s, client cpu %6.3f s, server cpu %6.2f s\n",
                    kKinds[who].name, Median(Column(samples[who], wall)),
                    Median(Column(samples[who], client)), Median(Column(samples[who], server)));
    std::printf("\n");
    for (int who = 0; who < kKindCount; ++who) {
        const Kind& kind = kKinds[who];
        if (kind.anchor < 0)
            continue;
        const double ratio =
            Median(Column(samples[who], wall)) / Median(Column(samples[kind.anchor], wall));
        std::printf("wall-time ratio %-10s / %-14s %.3f", kind.name, kKinds[kind.anchor].name,
                    ratio);
        if (kind.goal > 0)
            std::printf("  (goal <= %.2f: %s)", kind.goal, ratio <= kind.goal ? "met" : "missed");
        std::printf("\n");
        if (kind.alsoAgainst >= 0)
            std::printf("wall-time ratio %-10s / %-14s %.3f\n", kind.name,
                        kKinds[kind.alsoAgainst].name,
                        Median(Column(samples[who], wall)) /
                            Median(Column(samples[kind.alsoAgainst], wall)));
    }
    std::printf("cli plain client cpu / server cpu: %.2f %% (goal <= 2 %%)\n",
                100 * Median(Column(samples[2], client)) / Median(Column(samples[2], server)));

    std::printf("\ncancel of a streamed restore (interrupt at 10, 50 and 90 %% of the backup):\n");
    std::vector<double> latencies;
    for (int round = 0; round < runs; ++round)
        for (double at : {10.0, 50.0, 90.0}) {
            const Cancel c = CancelledRestore(cli, from, target, at);
            latencies.push_back(c.afterSignal);
            std::printf("at %5.1f %%: exit %d after %.2f s, original %s, folder %s\n", c.percent,
                        c.code, c.afterSignal, c.originalBack ? "back" : "NOT BACK",
                        c.folderClean ? "as before" : "HAS LEFTOVERS");
            std::fflush(stdout);
        }
    std::printf("cancel latency: median %.2f s, longest %.2f s\n", Median(latencies),
                *std::max_element(latencies.begin(), latencies.end()));
    return 0;
}
