#include "tests/support/Descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

namespace test_support {

DescriptorsUsedUp::DescriptorsUsedUp() {
    if (::getrlimit(RLIMIT_NOFILE, &saved_) != 0)
        return;
    active_ = true;
    // A lower limit keeps the filling quick where the usual one is huge.
    rlimit lowered = saved_;
    lowered.rlim_cur = std::min<rlim_t>(saved_.rlim_cur, 1024);
    ::setrlimit(RLIMIT_NOFILE, &lowered);
    const int first = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (first < 0)
        return;
    taken_.push_back(first);
    for (int fd = ::fcntl(first, F_DUPFD_CLOEXEC, 0); fd >= 0;
         fd = ::fcntl(first, F_DUPFD_CLOEXEC, 0))
        taken_.push_back(fd);
}

void DescriptorsUsedUp::Release() {
    if (!active_)
        return;
    active_ = false;
    for (int fd : taken_) ::close(fd);
    taken_.clear();
    ::setrlimit(RLIMIT_NOFILE, &saved_);
}

}  // namespace test_support
