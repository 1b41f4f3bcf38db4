#include "cli/Reporter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

TEST(RecordCounter, EachTableCountsFromZeroAndTheTotalKeepsTheFinishedOnes) {
    cli::RecordCounter records;
    for (const char* line :
         {"gbak:restoring data for table CUSTOMERS", "gbak:   10000 records restored",
          "gbak:   20000 records restored", "gbak:restoring data for table ORDERS",
          "gbak:   10000 records restored", "gbak:    restoring column ID"})
        records.Line(line);
    EXPECT_TRUE(records.Known());
    EXPECT_EQ(records.Total(), 30000);
}

TEST(Reporter, AFailureSaysOnOneLineWhatHappenedAndWhereTheOriginalIs) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* err = ::open_memstream(&text, &size);
    {
        cli::Reporter reporter(false, false, false, stdout, err);
        reporter.Failed("RestoreService:\r\nUnsuccessful execution.\r\nError reading data.\r\n",
                        restore::OriginalFate::KeptAside, "/d/a.fdb.before-restore");
    }
    std::fclose(err);
    EXPECT_EQ(std::string(text, size),
              "tovanel-restore: RestoreService: Unsuccessful execution. Error reading data.\n"
              "tovanel-restore: the original database could not be put back; it is kept at: "
              "/d/a.fdb.before-restore\n");
    std::free(text);
    EXPECT_EQ(cli::FailureExitCode(restore::OriginalFate::KeptAside), 3);
    EXPECT_EQ(cli::FailureExitCode(restore::OriginalFate::PutBack), 1);
}

TEST(Reporter, ProgressIsRedrawnInPlaceOnATerminalAndThrottledInALog) {
    using std::chrono::milliseconds;
    for (const bool terminal : {true, false}) {
        char* text = nullptr;
        std::size_t size = 0;
        std::FILE* err = ::open_memstream(&text, &size);
        {
            cli::Reporter reporter(false, false, terminal, stdout, err);
            for (const int ms : {250, 500, 10250})
                reporter.Progress({milliseconds(ms), 1024 * 1024});
        }
        std::fclose(err);
        const std::string shown(text, size);
        std::free(text);
        if (terminal) {
            // Each figure replaces the last on one line.
            EXPECT_EQ(shown.rfind("restoring  0:00  1.0 MB  4.0 MB/s\r\033[K", 0), 0u) << shown;
            EXPECT_EQ(shown.find('\n'), std::string::npos);
        } else {
            // A log gets a line at the start and then one every ten seconds.
            EXPECT_EQ(shown,
                      "restoring  0:00  1.0 MB  4.0 MB/s\n"
                      "restoring  0:10  1.0 MB  99.9 KB/s\n");
        }
    }
}
