#include "platform/Process.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

using namespace platform;

TEST(Process, ExecutableIsFoundWhateverTheCurrentDirectory) {
    const std::string before = ExecutableDir();
    const auto cwd = std::filesystem::current_path();
    ASSERT_EQ(::chdir("/"), 0);
    EXPECT_EQ(ExecutableDir(), before);
    std::filesystem::current_path(cwd);
    EXPECT_EQ(ExecutableFileName(), "platform_process_test");
    EXPECT_EQ(ExecutablePath(), ExecutableDir() + ExecutableFileName());
    EXPECT_EQ(ExecutableDir().back(), '/');
    EXPECT_TRUE(std::filesystem::is_regular_file(ExecutablePath()));
}
