// The two forms of what tovanel-restore tells its user, and its exit status.

#include "cli/Reporter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "restore/RestoreErrors.h"

using std::chrono::milliseconds;

namespace {

// What `write` puts into a stream, as text.
std::string Captured(const std::function<void(std::FILE*)>& write) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* stream = ::open_memstream(&text, &size);
    write(stream);
    std::fclose(stream);
    std::string result(text, size);
    std::free(text);
    return result;
}

restore::ProgressFigures Streamed(int ms, std::int64_t bytes, std::optional<std::int64_t> total) {
    restore::ProgressFigures figures;
    figures.elapsed = milliseconds(ms);
    figures.inputBytes = bytes;
    figures.inputTotal = total;
    figures.bytesPerSecond = 4 * 1024 * 1024;
    if (total) {
        figures.percent = 100.0 * static_cast<double>(bytes) / static_cast<double>(*total);
        figures.eta = milliseconds(11000);
    }
    return figures;
}

}  // namespace

TEST(Reporter, AFailureSaysOnOneLineWhatHappenedAndWhereTheOriginalIs) {
    const std::string shown = Captured([](std::FILE* err) {
        cli::MakeTextReporter(false, false, err)
            ->Failed(
                {.message = "RestoreService:\r\nUnsuccessful execution.\r\nError reading data.\r\n",
                 .fate = restore::OriginalFate::KeptAside,
                 .originalPath = "/d/a.fdb.before-restore"});
    });
    EXPECT_EQ(shown,
              "tovanel-restore: RestoreService: Unsuccessful execution. Error reading data.\n"
              "tovanel-restore: the original database could not be put back; it is kept at: "
              "/d/a.fdb.before-restore\n");
}

TEST(Reporter, TheExitStatusFollowsWhatBecameOfTheRequestAndTheOriginal) {
    using restore::OriginalFate;
    struct Case {
        restore::FailureFacts facts;
        int status;
    } cases[] = {
        {{.fate = OriginalFate::PutBack}, 1},
        {{.fate = OriginalFate::Untouched, .refused = true}, 2},
        {{.fate = OriginalFate::KeptAside}, 3},
        {{.fate = OriginalFate::PutBack, .cancelled = true}, 4},
        {{.fate = OriginalFate::Untouched, .cancelled = true}, 4},
    };
    for (const Case& c : cases) EXPECT_EQ(cli::ExitCode(c.facts), c.status);
}

TEST(Reporter, TheProgressLineShowsTheShareForAFileTheBytesForAPipeAndThenTheIndexes) {
    restore::ProgressFigures indexes;
    indexes.elapsed = milliseconds(62000);
    indexes.phase = restore::Phase::Indexes;
    indexes.phaseElapsed = milliseconds(12000);
    indexes.index = "IX_ORDERS_DATE";
    restore::ProgressFigures serverReads;  // the server reads the backup itself
    serverReads.elapsed = milliseconds(8000);
    serverReads.targetBytes = 60 * 1024 * 1024;
    serverReads.bytesPerSecond = 7.5 * 1024 * 1024;
    struct Case {
        restore::ProgressFigures figures;
        std::string line;
    } cases[] = {
        {Streamed(8000, 45 << 20, 106 << 20),
         "restoring  0:08  42%  45.0 MB of 106 MB  4.0 MB/s  0:11 left"},
        {Streamed(8000, 45 << 20, std::nullopt), "restoring  0:08  45.0 MB  4.0 MB/s"},
        {indexes, "restoring  1:02  backup read; building indexes 0:12  IX_ORDERS_DATE"},
        {serverReads, "restoring  0:08  60.0 MB  7.5 MB/s"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Captured([&](std::FILE* err) {
                      cli::MakeTextReporter(false, false, err)->Progress(c.figures);
                  }),
                  c.line + "\n");
}

TEST(Reporter, ProgressIsRedrawnInPlaceOnATerminalAndThrottledInALog) {
    for (const bool terminal : {true, false}) {
        const std::string shown = Captured([&](std::FILE* err) {
            const auto reporter = cli::MakeTextReporter(false, terminal, err);
            for (const int ms : {250, 500, 10250}) reporter->Progress(Streamed(ms, 1 << 20, {}));
        });
        if (terminal) {
            // Each figure replaces the last on one line.
            EXPECT_EQ(shown.rfind("restoring  0:00  1.0 MB  4.0 MB/s\r\033[K", 0), 0u) << shown;
            EXPECT_EQ(shown.find('\n'), std::string::npos);
        } else {
            // A log gets a line at the start and then one every ten seconds.
            EXPECT_EQ(shown,
                      "restoring  0:00  1.0 MB  4.0 MB/s\n"
                      "restoring  0:10  1.0 MB  4.0 MB/s\n");
        }
    }
}

TEST(Reporter, JsonProgressHasNullsForAPipeAndAFailureSaysWhetherItWasCancelled) {
    const std::string shown = Captured([](std::FILE* out) {
        const auto reporter = cli::MakeJsonReporter(false, out);
        reporter->OutputLine("gbak: not shown without -v");
        reporter->Progress(Streamed(8000, 1024, std::nullopt));
        reporter->Failed(
            {.error = std::make_exception_ptr(restore::ERestoreCancelled("/d/a", true)),
             .fate = restore::OriginalFate::PutBack,
             .originalPath = "/d/a",
             .cancelled = true});
    });
    EXPECT_EQ(shown,
              "{\"event\":\"progress\",\"phase\":\"reading\",\"elapsed_ms\":8000,"
              "\"phase_elapsed_ms\":0,\"input_bytes\":1024,\"input_total\":null,"
              "\"percent\":null,\"eta_ms\":null,\"bytes_per_second\":4194304,"
              "\"target_bytes\":-1}\n"
              "{\"event\":\"failed\",\"ok\":false,\"exit_code\":4,\"error\":\"interrupted: the "
              "server abandoned the restore; nothing was restored\",\"cancelled\":true,"
              "\"original\":\"put_back\",\"original_path\":\"/d/a\"}\n");
}
