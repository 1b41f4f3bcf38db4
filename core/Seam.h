#pragma once
// A process-wide seam: one instance of an interface that the code reaches
// through an accessor (the window layer, the file system, the desktop
// shell). The real one serves until another is installed; tests install a
// stand-in for a scope and the earlier one comes back at its end.

#include <atomic>

namespace core {

template <class Interface>
class Seam {
  public:
    using Fallback = Interface& (*)();
    explicit constexpr Seam(Fallback fallback) : fallback_(fallback) {}

    Interface& Get() const {
        Interface* installed = installed_.load();
        return installed ? *installed : fallback_();
    }
    // Installs `instance` (not owned; nullptr puts the fallback back) and
    // returns the one installed before.
    Interface* Install(Interface* instance) { return installed_.exchange(instance); }

  private:
    Fallback fallback_;
    // Read by worker threads too (a volume read with a time limit).
    std::atomic<Interface*> installed_{nullptr};
};

// Installs an instance through `Install` for the lifetime of the guard.
template <class Interface, Interface* (*Install)(Interface*)>
class ScopedSeam {
  public:
    explicit ScopedSeam(Interface& instance) : previous_(Install(&instance)) {}
    ~ScopedSeam() { Install(previous_); }
    ScopedSeam(const ScopedSeam&) = delete;
    ScopedSeam& operator=(const ScopedSeam&) = delete;

  private:
    Interface* previous_;
};

}  // namespace core
