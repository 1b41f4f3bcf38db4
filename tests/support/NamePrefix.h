#pragma once
// Objects shared by name (the trace monitor's among them) outlive the
// programs that open them. A test program that used the real names would
// show its texts to real monitor programs and meet other test runs, so each
// runs behind a name prefix of its own and takes its names away at the end.

#include <string>

namespace test_support {

class ScopedNamePrefix {
  public:
    // Sets a prefix no other running process has.
    ScopedNamePrefix();
    // Removes every object still named behind the prefix.
    ~ScopedNamePrefix();
    ScopedNamePrefix(const ScopedNamePrefix&) = delete;
    ScopedNamePrefix& operator=(const ScopedNamePrefix&) = delete;

    const std::string& Prefix() const { return prefix_; }

  private:
    std::string prefix_;
};

}  // namespace test_support
