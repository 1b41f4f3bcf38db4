#include "app/WindowWait.h"

#include <gtest/gtest.h>

#include "fakes/FakeWindowLayer.h"

// A rollback that waits for the server to let go of a file runs while the
// window is still busy, and the window must stay alive meanwhile.
TEST(WindowWait, APauseKeepsDispatchingTheWindowsMessages) {
    platform::FakeWindowLayer layer;
    platform::ScopedWindowLayer installed(layer);
    int dispatched = 0;
    layer.onProcessMessages = [&] { ++dispatched; };
    WindowWait wait;
    const auto start = std::chrono::steady_clock::now();
    wait.Pause(std::chrono::milliseconds(100));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_GE(dispatched, 5);
}
