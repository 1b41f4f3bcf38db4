#include "TraceReader.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "services/FIBSQLMonitor.h"

namespace tt = trace_transport;
using platform::ipc::NamedEvent;
using platform::ipc::NamedMutex;
using platform::ipc::SharedMemory;
using namespace std::chrono_literals;

namespace {

constexpr std::size_t kListenerOffsets[] = {
    tt::kTransactionListenersOffset, tt::kConnectListenersOffset, tt::kFetchListenersOffset,
    tt::kExecuteListenersOffset, tt::kPrepareListenersOffset};

// Leaving must not push a count below 0 when the writer has already written
// us off.
void DecrementIfPositive(std::atomic_ref<std::int32_t> counter) {
    std::int32_t value = counter.load();
    while (value > 0 && !counter.compare_exchange_weak(value, value - 1)) {
    }
}

}  // namespace

TraceReader::TraceReader()
    : area_(SharedMemory::CreateOrOpen(tt::kSharedMemName, tt::kAreaSize)),
      mutex_(NamedMutex::CreateOrOpen(tt::kMutexName)),
      writeEvent_(NamedEvent::CreateOrOpen(tt::kWriteEventName, false)),
      writeFinishedEvent_(NamedEvent::CreateOrOpen(tt::kWriteFinishedEventName, true)),
      readEvent_(NamedEvent::CreateOrOpen(tt::kReadEventName, false)),
      readFinishedEvent_(NamedEvent::CreateOrOpen(tt::kReadFinishedEventName, false)) {}

TraceReader::~TraceReader() {
    Unregister();
}

std::atomic_ref<std::int32_t> TraceReader::Counter(std::size_t offset) const {
    return std::atomic_ref<std::int32_t>(*reinterpret_cast<std::int32_t*>(area_.Data() + offset));
}

bool TraceReader::Register(bool allKinds, const std::atomic<bool>& stop) {
    // The writer keeps the mutex for a whole text, seconds at worst when
    // other monitors have vanished.
    NamedMutex::LockResult locked;
    do {
        if (stop)
            return false;
        locked = mutex_.Lock(100ms);
    } while (locked == NamedMutex::LockResult::TimedOut);
    Counter(tt::kMonitorCountOffset).fetch_add(1);
    if (allKinds) {
        for (std::size_t offset : kListenerOffsets) Counter(offset).fetch_add(1);
    }
    if (locked != NamedMutex::LockResult::Failed)
        mutex_.Unlock();
    registered_ = true;
    allKinds_ = allKinds;
    chunkOpen_ = false;
    // Nobody hands a chunk over while we held the mutex: we are ready now.
    readEvent_.Set();
    return true;
}

void TraceReader::Unregister() {
    if (!registered_)
        return;
    registered_ = false;
    // Under the mutex when it can be had soon; a writer in the middle of a
    // hand-over holds it, and the counts are changed atomically either way.
    NamedMutex::LockResult locked = mutex_.Lock(1500ms);
    const bool held =
        locked == NamedMutex::LockResult::Acquired || locked == NamedMutex::LockResult::OwnerDied;
    DecrementIfPositive(Counter(tt::kMonitorCountOffset));
    if (allKinds_) {
        for (std::size_t offset : kListenerOffsets) DecrementIfPositive(Counter(offset));
    }
    if (held)
        mutex_.Unlock();
}

TraceChunk TraceReader::ReadChunk() const {
    TraceChunk chunk;
    std::memcpy(&chunk.category, area_.Data() + tt::kChunkCategoryOffset, sizeof chunk.category);
    std::memcpy(&chunk.timestamp, area_.Data() + tt::kChunkTimestampOffset, sizeof chunk.timestamp);
    std::memcpy(&chunk.announcedLength, area_.Data() + tt::kChunkLengthOffset,
                sizeof chunk.announcedLength);
    if (chunk.announcedLength >= 1 &&
        chunk.announcedLength <= static_cast<std::int32_t>(tt::kChunkCapacity)) {
        const char* bytes = reinterpret_cast<const char*>(area_.Data() + tt::kChunkOffset);
        chunk.bytes.assign(bytes, static_cast<std::size_t>(chunk.announcedLength));
    }
    return chunk;
}

std::optional<TraceChunk> TraceReader::Next(std::chrono::milliseconds timeout,
                                            const std::atomic<bool>& stop) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (stop || left.count() <= 0)
            return std::nullopt;
        const auto slice = std::min(left, std::chrono::milliseconds(100));

        if (chunkOpen_) {
            // The chunk we read last is still announced; reading on now would
            // take it a second time.
            if (writeEvent_.IsSet() && !writeFinishedEvent_.IsSet()) {
                writeFinishedEvent_.Wait(std::min(slice, std::chrono::milliseconds(10)));
                continue;
            }
            chunkOpen_ = false;
            readEvent_.Set();
        }
        // Written off by a writer that lost patience with us: count us in again.
        if (registered_ && Counter(tt::kMonitorCountOffset).load() <= 0) {
            Counter(tt::kMonitorCountOffset).fetch_add(1);
            readEvent_.Set();
        }
        if (!writeEvent_.Wait(slice))
            continue;
        if (writeFinishedEvent_.IsSet()) {
            // Announced and finished at once: nothing a writer leaves behind.
            std::this_thread::sleep_for(std::min(slice, std::chrono::milliseconds(10)));
            continue;
        }
        Counter(tt::kReaderCountOffset).fetch_add(1);
        TraceChunk chunk = ReadChunk();
        // Not ready again before the writer has closed this chunk.
        readEvent_.Reset();
        if (Counter(tt::kReaderCountOffset).fetch_sub(1) - 1 <= 0)
            readFinishedEvent_.Set();
        chunkOpen_ = true;
        return chunk;
    }
}
