#pragma once
// A process at its limit of open files, for a scope: every open, socket or
// pipe fails with EMFILE until the guard gives the descriptors back.

#include <sys/resource.h>

#include <vector>

namespace test_support {

class DescriptorsUsedUp {
  public:
    DescriptorsUsedUp();
    ~DescriptorsUsedUp() { Release(); }
    DescriptorsUsedUp(const DescriptorsUsedUp&) = delete;
    DescriptorsUsedUp& operator=(const DescriptorsUsedUp&) = delete;

    // Gives them back early; the limit is as it was.
    void Release();

  private:
    rlimit saved_{};
    bool active_ = false;
    std::vector<int> taken_;
};

}  // namespace test_support
