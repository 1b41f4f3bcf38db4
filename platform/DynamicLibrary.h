#pragma once
// Loading a shared library by file name, looking up its exports, and
// releasing it. The stored client-library names of the tool are Windows file
// names; the loader maps those onto this platform's client library.

#include <memory>
#include <string>
#include <vector>

namespace platform {

class DynamicLibrary {
  public:
    // Loads `name`; returns nullptr and sets LastError when it cannot.
    static std::unique_ptr<DynamicLibrary> Load(const std::string& name);
    ~DynamicLibrary();

    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // The address of an exported function, or nullptr (LastError then says
    // which symbol is missing).
    void* Symbol(const char* name) const;

  private:
    explicit DynamicLibrary(void* handle) : handle_(handle) {}
    void* handle_;
};

// The candidate file names tried, in order, for a stored library name.
std::vector<std::string> LibraryCandidates(const std::string& name);

// The last loader or operating-system error of the calling thread: a code
// (0 when the platform gives none) and its description.
struct SystemError {
    unsigned code = 0;
    std::string text;
};
SystemError LastError();
void SetLastError(SystemError error);

}  // namespace platform
