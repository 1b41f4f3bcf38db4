#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

#include <cerrno>

#include "core/Ascii.h"

namespace platform {

namespace {

thread_local SystemError lastError;

}  // namespace

SystemError LastError() {
    return lastError;
}
void SetLastError(SystemError error) {
    lastError = std::move(error);
}

std::vector<std::string> LibraryCandidates(const std::string& name) {
    std::vector<std::string> names{name};
    // The stored names are those of the Windows client library; here the same
    // API comes from the Firebird client's shared object.
    std::string lower = core::AsciiLower(name);
    if (lower == "gds32.dll" || lower == "fbclient.dll")
        names.emplace_back("libfbclient.so.2");
    return names;
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& name) {
    std::string firstError;
    for (const std::string& candidate : LibraryCandidates(name)) {
        if (candidate.empty())
            break;
        dlerror();
        void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle) {
            SetLastError({});
            return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle));
        }
        const char* err = dlerror();
        if (firstError.empty() && err)
            firstError = err;
    }
    // dlopen keeps no numeric code; ENOENT stands for "could not be found".
    SetLastError({static_cast<unsigned>(ENOENT), firstError});
    return nullptr;
}

DynamicLibrary::~DynamicLibrary() {
    if (handle_)
        dlclose(handle_);
}

void* DynamicLibrary::Symbol(const char* name) const {
    dlerror();
    void* address = dlsym(handle_, name);
    if (!address) {
        const char* err = dlerror();
        // 127 is the code the Windows loader gives for a missing procedure;
        // the description names the symbol so the operator can see which.
        SetLastError({127u, err ? std::string(err) : std::string("undefined symbol: ") + name});
    }
    return address;
}

}  // namespace platform
