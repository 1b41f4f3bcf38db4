#pragma once
// Runs a piece of code when a scope ends, whichever way it ends: a return or
// an exception. Cursors, update counts, flags and the current directory are
// put back this way instead of by a small class of their own, or by a catch
// of everything that restores and throws again.

#include <utility>

namespace core {

template <class OnExit>
class ScopeExit {
  public:
    explicit ScopeExit(OnExit onExit) : onExit_(std::move(onExit)) {}
    // What runs here must not throw: it may run while an exception is on
    // its way out.
    ~ScopeExit() { onExit_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

  private:
    OnExit onExit_;
};

// Gives `variable` the value `value` for the scope; the earlier value comes
// back at its end.
template <class T>
[[nodiscard]] auto SetForScope(T& variable, T value) {
    T earlier = std::exchange(variable, std::move(value));
    return ScopeExit(
        [&variable, earlier = std::move(earlier)]() mutable { variable = std::move(earlier); });
}

}  // namespace core
