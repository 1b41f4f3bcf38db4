// Reading a large backup as the streamed restore does (OpenBackupStream
// through ReadAhead, taken 64 KiB at a time, as the server asks for it),
// plain and as .zst, next to `cat FILE > /dev/null` and `zstd -dc FILE >
// /dev/null` in the same run, taking turns. Each reading runs in a child
// process of its own, so that its wall time, CPU time and peak memory (RSS)
// are its own. Two sizes, the second four times the first, show whether the
// memory stays flat with the size. The files are read from the page cache.
//
// Usage: bench_backup_source [MB [RUNS]]   (default 256 MB, 5 runs)

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "restore/BackupSource.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Sample {
    double wall = 0;
    double cpu = 0;
    long peakKiB = 0;
};

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Runs `work` in a child process; its exit status must be 0.
Sample InChild(const std::function<int()>& work) {
    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(work());
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    Sample s;
    s.wall = std::chrono::duration<double>(Clock::now() - start).count();
    s.cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    s.peakKiB = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "a reading failed (status %d)\n", status);
        std::exit(1);
    }
    return s;
}

// A program with its output thrown away.
Sample Command(std::vector<std::string> argv) {
    return InChild([&] {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        std::vector<char*> args;
        for (std::string& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        return 127;
    });
}

Sample Streamed(const std::string& path, std::int64_t expected) {
    return InChild([&] {
        try {
            const auto source = restore::ReadAhead(restore::OpenBackupStream(path));
            std::vector<char> buffer(std::size_t{64} << 10);
            std::int64_t total = 0;
            while (const std::size_t n = source->Read(buffer.data(), buffer.size()))
                total += static_cast<std::int64_t>(n);
            return total == expected && source->Consumed() == source->Total() ? 0 : 1;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    });
}

// About as compressible as a database backup: record-like text between
// random bytes (zstd makes it about a third smaller).
void MakePlain(const std::string& path, std::int64_t bytes) {
    std::ofstream out(path, std::ios::binary);
    std::mt19937 random(7);
    std::string block;
    for (std::int64_t written = 0, record = 0; written < bytes;) {
        block.clear();
        while (block.size() < (std::size_t{1} << 20)) {
            block += "CUSTOMER " + std::to_string(record++) + " Seoul 02-555-0100 ";
            for (int i = 0; i < 24; ++i) block += static_cast<char>(random());
        }
        const auto n = std::min<std::int64_t>(bytes - written, std::ssize(block));
        out.write(block.data(), n);
        written += n;
    }
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Turn {
    const char* name;
    std::function<Sample()> run;
    std::vector<Sample> samples;

    double MedianOf(double Sample::*field) const {
        std::vector<double> values;
        for (const Sample& s : samples) values.push_back(s.*field);
        return Median(values);
    }
    long PeakKiB() const {
        long peak = 0;
        for (const Sample& s : samples) peak = std::max(peak, s.peakKiB);
        return peak;
    }
};

void Measure(const fs::path& folder, std::int64_t megabytes, int runs) {
    const std::int64_t bytes = megabytes << 20;
    const std::string plain = (folder / "big.fbk").string();
    const std::string zst = plain + ".zst";
    MakePlain(plain, bytes);
    if (std::system(("zstd -q -f '" + plain + "' -o '" + zst + "'").c_str()) != 0) {
        std::fprintf(stderr, "zstd failed\n");
        std::exit(1);
    }
    Turn turns[] = {
        {"cat",
         [&] {
             return Command({"cat", plain});
         },
         {}},
        {"ReadAhead plain", [&] { return Streamed(plain, bytes); }, {}},
        {"zstd -dc",
         [&] {
             return Command({"zstd", "-q", "-dc", zst});
         },
         {}},
        {"ReadAhead .zst", [&] { return Streamed(zst, bytes); }, {}},
    };
    constexpr int kTurns = 4;
    for (int round = 0; round < runs; ++round)
        for (int i = 0; i < kTurns; ++i) {
            // Each round starts with another one, so no reading always comes first.
            Turn& turn = turns[(round + i) % kTurns];
            turn.samples.push_back(turn.run());
        }

    std::printf("\n%lld MB plain, %lld MB as .zst; median of %d runs\n",
                static_cast<long long>(megabytes), static_cast<long long>(fs::file_size(zst) >> 20),
                runs);
    std::printf("%-16s %8s %9s %8s %13s\n", "reading", "wall s", "MB/s out", "cpu s",
                "peak RSS KiB");
    for (const Turn& turn : turns) {
        const double wall = turn.MedianOf(&Sample::wall);
        std::printf("%-16s %8.3f %9.0f %8.3f %13ld\n", turn.name, wall,
                    static_cast<double>(megabytes) / wall, turn.MedianOf(&Sample::cpu),
                    turn.PeakKiB());
    }
    std::printf("wall ratio ReadAhead plain / cat:     %.2f\n",
                turns[1].MedianOf(&Sample::wall) / turns[0].MedianOf(&Sample::wall));
    std::printf("wall ratio ReadAhead .zst / zstd -dc: %.2f\n",
                turns[3].MedianOf(&Sample::wall) / turns[2].MedianOf(&Sample::wall));
    fs::remove(plain);
    fs::remove(zst);
}

}  // namespace

int main(int argc, char** argv) {
    const std::int64_t megabytes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 256;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const fs::path folder =
        fs::temp_directory_path() / ("bench-source-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    Measure(folder, megabytes, runs);
    Measure(folder, 4 * megabytes, runs);
    fs::remove_all(folder);
    return 0;
}
