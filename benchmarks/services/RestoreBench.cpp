// Three restores of the same backup on a private server, taking turns: the
// service component waiting as the window waits (a status query per turn),
// the command line (tovanel-restore, waiting inside the server), and the
// server's own command-line restore (gbak -c -se). Reports wall time,
// client and server CPU seconds and, for the window's wait, the number of
// status queries.
//
// Usage: bench_services_restore BACKUP TARGET_DIR SERVER_PID [RUNS [PAUSE_MS]]
// PAUSE_MS puts a pause between the window wait's status queries (default 0:
// none, as the window polls). tovanel-restore is taken from the folder of
// this program. The client environment (FIREBIRD) must point at the server.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

// A restore by another program, timed from the outside.
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
        std::fprintf(stderr, "%s failed (status %d)\n", argv[0].c_str(), status);
        std::exit(1);
    }
    return s;
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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s BACKUP TARGET_DIR SERVER_PID [RUNS [PAUSE_MS]]\n", argv[0]);
        return 2;
    }
    const std::string backup = argv[1];
    const std::string target = std::string(argv[2]) + "/bench-restore.fdb";
    const long serverPid = std::stol(argv[3]);
    const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;
    const int pauseMs = argc > 5 ? std::max(0, std::atoi(argv[5])) : 0;
    std::string self = argv[0];
    const std::string cli = self.substr(0, self.rfind('/') + 1) + "tovanel-restore";

    const char* const names[3] = {"window", "cli", "gbak -se"};
    std::vector<Sample> samples[3];
    std::printf("%-4s %-10s %9s %11s %11s %9s\n", "run", "restore", "wall s", "client cpu",
                "server cpu", "queries");
    for (int round = 0; round < runs; ++round) {
        for (int turn = 0; turn < 3; ++turn) {
            // Each round starts with another one, so none always meets a warm cache.
            const int who = (round + turn) % 3;
            std::remove(target.c_str());
            try {
                Sample s = who == 0   ? ComponentRestore(backup, target, serverPid, pauseMs)
                           : who == 1 ? ChildRestore({cli, backup, target}, serverPid)
                                      : ChildRestore({"gbak", "-c", "-se", "localhost:service_mgr",
                                                      "-user", "SYSDBA", "-password", "fernstone",
                                                      "-page_size", "4096", backup, target},
                                                     serverPid);
                samples[who].push_back(s);
                std::printf("%-4d %-10s %9.2f %11.3f %11.2f %9ld\n", round + 1, names[who], s.wall,
                            s.clientCpu, s.serverCpu, s.queries);
                std::fflush(stdout);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "component restore failed: %s\n", e.what());
                return 1;
            }
        }
    }
    std::remove(target.c_str());

    auto wall = [](const Sample& s) { return s.wall; };
    auto client = [](const Sample& s) { return s.clientCpu; };
    auto server = [](const Sample& s) { return s.serverCpu; };
    std::printf("\nmedian over %d runs each; window wait's pause between queries %d ms\n", runs,
                pauseMs);
    for (int who = 0; who < 3; ++who)
        std::printf("%-9s wall %.2f s, client cpu %.3f s, server cpu %.2f s\n", names[who],
                    Median(Column(samples[who], wall)), Median(Column(samples[who], client)),
                    Median(Column(samples[who], server)));
    const double gbakWall = Median(Column(samples[2], wall));
    std::printf("wall-time ratio cli / gbak -se:    %.3f\n",
                Median(Column(samples[1], wall)) / gbakWall);
    std::printf("wall-time ratio window / gbak -se: %.3f\n",
                Median(Column(samples[0], wall)) / gbakWall);
    std::printf("cli client cpu / server cpu:       %.2f %%\n",
                100 * Median(Column(samples[1], client)) / Median(Column(samples[1], server)));
    return 0;
}
