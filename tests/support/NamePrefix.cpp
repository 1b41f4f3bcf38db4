#include "tests/support/NamePrefix.h"

#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "platform/ipc/NamedObjects.h"

namespace test_support {

ScopedNamePrefix::ScopedNamePrefix() : prefix_("test." + std::to_string(getpid()) + ".") {
    platform::ipc::SetNamePrefix(prefix_);
}

ScopedNamePrefix::~ScopedNamePrefix() {
    // Tests that need a prefix of their own put it behind this one, so one
    // sweep also takes what they left.
    namespace fs = std::filesystem;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator("/dev/shm", error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(prefix_))
            shm_unlink(("/" + name).c_str());
    }
}

}  // namespace test_support
