#pragma once
// Objects that processes on this machine share by name: a memory area, a
// mutex and manual-reset events. Each object lives in a POSIX shared-memory
// segment of its own, so any process that knows the name can open it, and
// the first process to ask creates it. Segments are created readable and
// writable by every account, whatever the umask. Names outlive the processes
// that use them; RemoveNamedObject takes a name away.
//
// Failures to create or open raise EOSError with the errno value as the code.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace platform::ipc {

// Test runs and real programs must not meet through the same names, so every
// name is put behind a process-wide prefix. Empty unless a test or a tool sets
// it; set it before any object is opened.
void SetNamePrefix(std::string prefix);
std::string NamePrefix();

// The segment an object called `name` lives in: "/" + prefix + name.
std::string SegmentName(std::string_view name);

// Takes the name away; objects already open stay usable. False when there
// was no such name.
bool RemoveNamedObject(std::string_view name);

// How long an opener waits for the creator in another process to finish
// setting an object up before it gives up on that object.
inline constexpr std::chrono::milliseconds kSetUpWait{1000};

// One mapped segment; unmapped on destruction.
class Mapping {
  public:
    Mapping() = default;
    Mapping(void* address, std::size_t size, bool existed)
        : address_(address), size_(size), existed_(existed) {}
    Mapping(Mapping&& other) noexcept;
    Mapping& operator=(Mapping&& other) noexcept;
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    ~Mapping();

    void* Address() const { return address_; }
    std::size_t Size() const { return size_; }
    // Another process (or an earlier open) had created the object.
    bool Existed() const { return existed_; }

  private:
    void Release();
    void* address_ = nullptr;
    std::size_t size_ = 0;
    bool existed_ = false;
};

// A zero-filled memory area of a fixed size.
class SharedMemory {
  public:
    // Creates the area or opens the existing one. Raises EOSError when the
    // name is taken by something that is not an area of exactly `size` bytes,
    // or the segment cannot be opened or mapped.
    static SharedMemory CreateOrOpen(std::string_view name, std::size_t size);

    unsigned char* Data() const { return static_cast<unsigned char*>(mapping_.Address()); }
    std::size_t Size() const { return mapping_.Size(); }
    bool Existed() const { return mapping_.Existed(); }

  private:
    explicit SharedMemory(Mapping mapping) : mapping_(std::move(mapping)) {}
    Mapping mapping_;
};

// A mutex that survives its owner: when the process holding it dies, the
// next locker gets it with OwnerDied. The owning thread may lock it again
// (each Lock needs its own Unlock).
class NamedMutex {
  public:
    static NamedMutex CreateOrOpen(std::string_view name);

    enum class LockResult {
        Acquired,
        // Acquired from an owner that died holding it; whatever it guarded
        // may be half-written.
        OwnerDied,
        TimedOut,
        // The mutex is unusable (left inconsistent by another program).
        Failed,
    };
    LockResult Lock(std::chrono::milliseconds timeout);
    void Unlock();
    bool Existed() const { return mapping_.Existed(); }

  private:
    explicit NamedMutex(Mapping mapping) : mapping_(std::move(mapping)) {}
    void* Handle() const;
    Mapping mapping_;
};

// An event that stays set until reset; every waiter wakes when it is set.
class NamedEvent {
  public:
    // `initiallySet` applies only when this call creates the event.
    static NamedEvent CreateOrOpen(std::string_view name, bool initiallySet);

    void Set();
    void Reset();
    bool IsSet() const;
    // True as soon as the event is set; false after `timeout` without it.
    bool Wait(std::chrono::milliseconds timeout) const;
    bool Existed() const { return mapping_.Existed(); }

  private:
    explicit NamedEvent(Mapping mapping) : mapping_(std::move(mapping)) {}
    std::uint32_t* Word() const;
    Mapping mapping_;
};

// Segment sizes and the markers that tell an opener the creator is done;
// the transport description lists them for monitor programs.
inline constexpr std::size_t kEventSegmentSize = 16;
inline constexpr std::size_t kMutexSegmentSize = 64;
inline constexpr std::uint32_t kEventReadyMarker = 0x544E5645;  // "EVNT"
inline constexpr std::uint32_t kMutexReadyMarker = 0x5854554D;  // "MUTX"

}  // namespace platform::ipc
