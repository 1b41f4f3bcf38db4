// How long the file list takes to read a folder of 10,000 and of 100,000
// files (default mask, icons on), next to QDir::entryList of the same
// folder in the same run, and how much memory the process needed at most.
//
//   bench_controls_file_list [--benchmark_...]
//
// Counters: list_ms and qdir_ms (mean per read), ratio (list / qdir),
// peak_rss_MB (the process's high-water mark after the reads, which also
// holds what QDir needed), list_heap_MB (heap the filled list keeps).

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "controls/RzFilSys.h"

namespace {

namespace stdfs = std::filesystem;

// A folder of `count` files with a handful of extensions, made once per run.
std::string Folder(int count) {
    auto dir = stdfs::temp_directory_path() / ("bench-filelist-" + std::to_string(count));
    if (stdfs::exists(dir / "done"))
        return dir.string();
    stdfs::remove_all(dir);
    stdfs::create_directories(dir);
    static const char* extensions[] = {".bak", ".fdb", ".gbk", ".txt", ".log"};
    for (int i = 0; i < count; ++i) {
        std::ofstream(dir / ("File_" + std::to_string(i * 7919 % count) + extensions[i % 5]));
    }
    stdfs::create_directories(dir / "done");
    return dir.string();
}

double PeakRssMb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Small blocks in use plus the large ones the allocator maps on their own.
std::int64_t HeapInUse() {
    struct mallinfo2 info = ::mallinfo2();
    return static_cast<std::int64_t>(info.uordblks + info.hblkhd);
}

void ReadFolder(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::string folder = Folder(count);
    const std::string elsewhere = stdfs::temp_directory_path().string();
    double listSeconds = 0;
    double qdirSeconds = 0;
    int items = 0;
    double listHeap = 0;
    for (auto _ : state) {
        state.PauseTiming();
        TRzFileListBox list;
        list.HandleNeeded();
        list.SetListDir(elsewhere);
        const auto heapBefore = HeapInUse();
        state.ResumeTiming();
        auto start = std::chrono::steady_clock::now();
        list.SetListDir(folder);
        listSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.PauseTiming();
        listHeap = static_cast<double>(HeapInUse() - heapBefore) / (1024.0 * 1024.0);
        items = list.Count();
        start = std::chrono::steady_clock::now();
        QStringList names = QDir(QString::fromStdString(folder)).entryList(QDir::Files);
        qdirSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        benchmark::DoNotOptimize(names);
        state.ResumeTiming();
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["items"] = items;
    state.counters["list_ms"] = listSeconds * 1000 / runs;
    state.counters["qdir_ms"] = qdirSeconds * 1000 / runs;
    state.counters["ratio"] = listSeconds / qdirSeconds;
    state.counters["peak_rss_MB"] = PeakRssMb();
    state.counters["list_heap_MB"] = listHeap;
}

BENCHMARK(ReadFolder)->Arg(10000)->Arg(100000)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (int count : {10000, 100000}) {
        std::error_code ignored;
        stdfs::remove_all(
            stdfs::temp_directory_path() / ("bench-filelist-" + std::to_string(count)), ignored);
    }
    return 0;
}
