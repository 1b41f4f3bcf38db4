#include "platform/ipc/NamedObjects.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "core/Exceptions.h"

namespace platform::ipc {

namespace {

std::mutex prefixLock;
std::string namePrefix;

// The mutex sits behind its ready marker, aligned for the pthread type.
constexpr std::size_t kMutexOffset = 8;
static_assert(kMutexOffset + sizeof(pthread_mutex_t) <= kMutexSegmentSize);
static_assert(alignof(pthread_mutex_t) <= kMutexOffset);
constexpr std::size_t kEventStateOffset = 0;
constexpr std::size_t kEventMarkerOffset = 4;

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0)
            close(fd_);
    }
    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_;
};

[[noreturn]] void Fail(const char* what, const std::string& segment, int error) {
    throw EOSError(std::string("Cannot ") + what + " shared object \"" + segment +
                       "\": " + std::strerror(error),
                   static_cast<std::uint32_t>(error));
}

std::atomic_ref<std::uint32_t> WordAt(void* base, std::size_t offset) {
    return std::atomic_ref<std::uint32_t>(
        *reinterpret_cast<std::uint32_t*>(static_cast<unsigned char*>(base) + offset));
}

// What a segment kind needs besides its size: how the creator sets it up and
// the marker it stores last, so that openers never see it half-made.
struct SetUp {
    void (*initialise)(void* base, bool initiallySet) = nullptr;
    bool initiallySet = false;
    std::size_t markerOffset = 0;
    std::uint32_t marker = 0;  // 0: the kind has no marker
};

void* MapWhole(int fd, std::size_t size) {
    void* address = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return address == MAP_FAILED ? nullptr : address;
}

Mapping CreateSegment(const std::string& segment, const Descriptor& fd, std::size_t size,
                      const SetUp& setUp) {
    // Until the marker is stored nobody else may rely on the segment, so a
    // failure here takes the name away again rather than leave it half-made.
    auto abandon = [&](const char* what, int error) {
        shm_unlink(segment.c_str());
        Fail(what, segment, error);
    };
    // The umask would narrow the mode given at creation; every account must
    // be able to open the object.
    if (fchmod(fd.Get(), 0666) != 0)
        abandon("set the access of", errno);
    if (ftruncate(fd.Get(), static_cast<off_t>(size)) != 0)
        abandon("size", errno);
    void* address = MapWhole(fd.Get(), size);
    if (!address)
        abandon("map", errno);
    Mapping mapping(address, size, false);
    try {
        if (setUp.initialise)
            setUp.initialise(address, setUp.initiallySet);
    } catch (const EOSError& e) {
        abandon("set up", static_cast<int>(e.ErrorCode()));
    }
    if (setUp.marker != 0)
        WordAt(address, setUp.markerOffset).store(setUp.marker, std::memory_order_release);
    return mapping;
}

Mapping OpenExisting(const std::string& segment, const Descriptor& fd, std::size_t size,
                     const SetUp& setUp, std::chrono::steady_clock::time_point deadline) {
    constexpr auto kPoll = std::chrono::milliseconds(1);
    // The creator sizes the segment in one step: size 0 means it is still at
    // work, any other wrong size means the name belongs to something else.
    for (;;) {
        struct stat st {};
        if (fstat(fd.Get(), &st) != 0)
            Fail("examine", segment, errno);
        if (!S_ISREG(st.st_mode))
            Fail("use", segment, EEXIST);
        if (static_cast<std::size_t>(st.st_size) == size)
            break;
        if (st.st_size != 0)
            Fail("use", segment, EEXIST);
        if (std::chrono::steady_clock::now() >= deadline)
            Fail("open", segment, ETIMEDOUT);
        std::this_thread::sleep_for(kPoll);
    }
    void* address = MapWhole(fd.Get(), size);
    if (!address)
        Fail("map", segment, errno);
    Mapping mapping(address, size, true);
    if (setUp.marker != 0) {
        for (;;) {
            std::uint32_t seen =
                WordAt(address, setUp.markerOffset).load(std::memory_order_acquire);
            if (seen == setUp.marker)
                break;
            if (seen != 0)
                Fail("use", segment, EEXIST);
            if (std::chrono::steady_clock::now() >= deadline)
                Fail("open", segment, ETIMEDOUT);
            std::this_thread::sleep_for(kPoll);
        }
    }
    return mapping;
}

Mapping OpenSegment(std::string_view name, std::size_t size, const SetUp& setUp) {
    const std::string segment = SegmentName(name);
    const auto deadline = std::chrono::steady_clock::now() + kSetUpWait;
    for (;;) {
        {
            Descriptor fd(shm_open(segment.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (fd)
                return CreateSegment(segment, fd, size, setUp);
        }
        if (errno != EEXIST)
            Fail("create", segment, errno);
        Descriptor fd(shm_open(segment.c_str(), O_RDWR | O_CLOEXEC, 0));
        if (fd)
            return OpenExisting(segment, fd, size, setUp, deadline);
        // ENOENT: the creator gave up and took the name away between our two
        // calls; the next round may create it ourselves.
        if (errno != ENOENT || std::chrono::steady_clock::now() >= deadline)
            Fail("open", segment, errno);
    }
}

pthread_mutex_t* MutexAt(void* base) {
    return reinterpret_cast<pthread_mutex_t*>(static_cast<unsigned char*>(base) + kMutexOffset);
}

void InitialiseMutex(void* base, bool) {
    pthread_mutexattr_t attr;
    int rc = pthread_mutexattr_init(&attr);
    if (rc == 0)
        rc = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    if (rc == 0)
        rc = pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    if (rc == 0)
        rc = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    if (rc == 0)
        rc = pthread_mutex_init(MutexAt(base), &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0)
        throw EOSError("pthread_mutex_init", static_cast<std::uint32_t>(rc));
}

void InitialiseEvent(void* base, bool initiallySet) {
    WordAt(base, kEventStateOffset).store(initiallySet ? 1 : 0, std::memory_order_relaxed);
}

long Futex(std::uint32_t* word, int op, std::uint32_t value, const timespec* timeout) {
    return syscall(SYS_futex, word, op, value, timeout, nullptr, 0);
}

}  // namespace

void SetNamePrefix(std::string prefix) {
    std::lock_guard<std::mutex> guard(prefixLock);
    namePrefix = std::move(prefix);
}

std::string NamePrefix() {
    std::lock_guard<std::mutex> guard(prefixLock);
    return namePrefix;
}

std::string SegmentName(std::string_view name) {
    std::string segment = "/" + NamePrefix() + std::string(name);
    // One path component under the shared-memory folder, as the kernel wants.
    if (segment.size() < 2 || segment.size() > NAME_MAX ||
        segment.find('/', 1) != std::string::npos) {
        throw EOSError("Invalid shared object name \"" + segment + "\"", EINVAL);
    }
    return segment;
}

bool RemoveNamedObject(std::string_view name) {
    return shm_unlink(SegmentName(name).c_str()) == 0;
}

Mapping::Mapping(Mapping&& other) noexcept
    : address_(std::exchange(other.address_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      existed_(other.existed_) {}

Mapping& Mapping::operator=(Mapping&& other) noexcept {
    if (this != &other) {
        Release();
        address_ = std::exchange(other.address_, nullptr);
        size_ = std::exchange(other.size_, 0);
        existed_ = other.existed_;
    }
    return *this;
}

Mapping::~Mapping() {
    Release();
}

void Mapping::Release() {
    if (address_)
        munmap(address_, size_);
    address_ = nullptr;
    size_ = 0;
}

SharedMemory SharedMemory::CreateOrOpen(std::string_view name, std::size_t size) {
    // A fresh segment is zero-filled by the kernel, so the area needs no set-up
    // and no marker: its size alone says it is ready.
    return SharedMemory(OpenSegment(name, size, SetUp{}));
}

NamedMutex NamedMutex::CreateOrOpen(std::string_view name) {
    return NamedMutex(
        OpenSegment(name, kMutexSegmentSize, SetUp{InitialiseMutex, false, 0, kMutexReadyMarker}));
}

void* NamedMutex::Handle() const {
    return MutexAt(mapping_.Address());
}

NamedMutex::LockResult NamedMutex::Lock(std::chrono::milliseconds timeout) {
    auto* mutex = static_cast<pthread_mutex_t*>(Handle());
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    const auto ms = std::max<std::int64_t>(0, timeout.count());
    deadline.tv_sec += static_cast<time_t>(ms / 1000);
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    switch (pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline)) {
        case 0:
            return LockResult::Acquired;
        case EOWNERDEAD:
            // Without this the mutex would become unusable for everyone once
            // we release it.
            pthread_mutex_consistent(mutex);
            return LockResult::OwnerDied;
        case ETIMEDOUT:
            return LockResult::TimedOut;
        default:
            return LockResult::Failed;
    }
}

void NamedMutex::Unlock() {
    pthread_mutex_unlock(static_cast<pthread_mutex_t*>(Handle()));
}

NamedEvent NamedEvent::CreateOrOpen(std::string_view name, bool initiallySet) {
    return NamedEvent(
        OpenSegment(name, kEventSegmentSize,
                    SetUp{InitialiseEvent, initiallySet, kEventMarkerOffset, kEventReadyMarker}));
}

std::uint32_t* NamedEvent::Word() const {
    return reinterpret_cast<std::uint32_t*>(static_cast<unsigned char*>(mapping_.Address()) +
                                            kEventStateOffset);
}

// The event is a futex word (0 reset, anything else set) rather than a
// shared condition variable: a waiter killed inside a shared condition
// variable can leave it blocking the process that signals it, while a futex
// keeps no record of its waiters.
void NamedEvent::Set() {
    std::atomic_ref<std::uint32_t>(*Word()).store(1, std::memory_order_release);
    Futex(Word(), FUTEX_WAKE, INT_MAX, nullptr);
}

void NamedEvent::Reset() {
    std::atomic_ref<std::uint32_t>(*Word()).store(0, std::memory_order_release);
}

bool NamedEvent::IsSet() const {
    return std::atomic_ref<std::uint32_t>(*Word()).load(std::memory_order_acquire) != 0;
}

bool NamedEvent::Wait(std::chrono::milliseconds timeout) const {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (IsSet())
            return true;
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        timespec relative{static_cast<time_t>(left.count() / 1000000000),
                          static_cast<long>(left.count() % 1000000000)};
        // Sleeps only while the word is still 0; a Set in between makes the
        // call return at once.
        Futex(Word(), FUTEX_WAIT, 0, &relative);
    }
}

}  // namespace platform::ipc
