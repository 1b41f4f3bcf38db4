#include "restore/Figures.h"

#include <gtest/gtest.h>

TEST(Figures, ElapsedAndSizeReadAsAnOperatorExpects) {
    using std::chrono::milliseconds;
    EXPECT_EQ(restore::FormatElapsed(milliseconds(42'999)), "0:42");
    EXPECT_EQ(restore::FormatElapsed(milliseconds(725'000)), "12:05");
    EXPECT_EQ(restore::FormatElapsed(milliseconds(3'723'000)), "1:02:03");
    EXPECT_EQ(restore::FormatSize(0), "0 B");
    EXPECT_EQ(restore::FormatSize(1023), "1023 B");
    EXPECT_EQ(restore::FormatSize(1536), "1.5 KB");
    EXPECT_EQ(restore::FormatSize(1288490189), "1.2 GB");
    EXPECT_EQ(restore::FormatSize(200LL * 1024 * 1024), "200 MB");
}
