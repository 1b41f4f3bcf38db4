// Progress figures from the input taken and the server's lines.

#include "restore/Progress.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using restore::Phase;
using restore::ProgressTracker;

TEST(ProgressMeter, IsDueAtMostFourTimesASecondHoweverOftenItIsAsked) {
    const auto start = restore::ProgressMeter::Clock::now();
    restore::ProgressMeter meter(start);
    int due = 0;
    for (auto t = start; t < start + 1s; t += 1ms) due += meter.Due(t) ? 1 : 0;
    EXPECT_EQ(due, 3);  // at 250, 500 and 750 ms
}

TEST(ProgressTracker, TheShareNeverGoesDownAndIsAHundredOnceTheInputIsAllTaken) {
    const auto t0 = ProgressTracker::Clock::now();
    ProgressTracker tracker(t0);
    auto figures = tracker.Figures(t0 + 2s, 50, 100, -1);
    EXPECT_EQ(figures.percent, 50.0);
    EXPECT_EQ(figures.bytesPerSecond, 25.0);
    EXPECT_EQ(figures.eta, 2000ms);
    EXPECT_EQ(tracker.Figures(t0 + 3s, 40, 100, -1).percent, 50.0);
    tracker.InputEnded(t0 + 4s);
    figures = tracker.Figures(t0 + 5s, 90, 100, -1);
    EXPECT_EQ(figures.percent, 100.0);
    EXPECT_EQ(figures.phase, Phase::Indexes);
    EXPECT_EQ(figures.phaseElapsed, 1s);
    EXPECT_FALSE(figures.eta);  // the index phase has no known end
}

TEST(ProgressTracker, APipeHasARateButNoShareAndNoTimeLeft) {
    const auto t0 = ProgressTracker::Clock::now();
    ProgressTracker tracker(t0);
    const auto pipe = tracker.Figures(t0 + 2s, 4096, std::nullopt, -1);
    EXPECT_EQ(pipe.bytesPerSecond, 2048.0);
    EXPECT_FALSE(pipe.percent);
    EXPECT_FALSE(pipe.eta);
    // The server reading the backup itself: the target's growth is the rate.
    EXPECT_EQ(tracker.Figures(t0 + 2s, -1, std::nullopt, 8192).bytesPerSecond, 4096.0);
}

TEST(ProgressTracker, TheServersLinesTellTheRowsThePhaseAndTheIndexBeingBuilt) {
    const auto t0 = ProgressTracker::Clock::now();
    ProgressTracker tracker(t0);
    for (const char* line :
         {"gbak:restoring data for table ORDERS", "gbak:   5000 records restored",
          "gbak:restoring data for table PRODUCTS", "gbak:   200 records restored",
          "gbak:    restoring index IX_A"})
        tracker.Line(line, t0);
    auto figures = tracker.Figures(t0 + 1s, -1, std::nullopt, -1);
    EXPECT_EQ(figures.records, 5200);
    EXPECT_EQ(figures.phase, Phase::Reading);
    EXPECT_EQ(figures.index, "");  // defining an index is no building of it
    tracker.Line("gbak:creating indexes ", t0 + 2s);
    tracker.Line("gbak:    activating and creating deferred index IX_ORDERS_DATE ", t0 + 2s);
    figures = tracker.Figures(t0 + 3s, -1, std::nullopt, -1);
    EXPECT_EQ(figures.phase, Phase::Indexes);
    EXPECT_EQ(figures.phaseElapsed, 1s);
    EXPECT_EQ(figures.index, "IX_ORDERS_DATE");
}
