#include "TraceReader.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "services/FIBSQLMonitor.h"

namespace tt = trace_transport;
using platform::ipc::NamedMutex;
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

TraceReader::TraceReader() = default;

TraceReader::~TraceReader() {
    Unregister();
}

NamedMutex::LockResult TraceReader::Lock(std::chrono::milliseconds timeout) {
    NamedMutex::LockResult locked = transport_.mutex.Lock(timeout);
    if (locked == NamedMutex::LockResult::OwnerDied)
        transport_.RestoreIdleEvents();
    return locked;
}

bool TraceReader::Register(bool allKinds, const std::atomic<bool>& stop) {
    // The writer keeps the mutex for a whole text, about a second at worst
    // when a monitor has vanished.
    NamedMutex::LockResult locked;
    do {
        if (stop)
            return false;
        locked = Lock(100ms);
    } while (locked == NamedMutex::LockResult::TimedOut);
    transport_.Counter(tt::kMonitorCountOffset).fetch_add(1);
    if (allKinds) {
        for (std::size_t offset : kListenerOffsets) transport_.Counter(offset).fetch_add(1);
    }
    if (locked != NamedMutex::LockResult::Failed)
        transport_.mutex.Unlock();
    registered_ = true;
    allKinds_ = allKinds;
    chunkOpen_ = false;
    // Nobody hands a chunk over while we held the mutex: we are ready now.
    transport_.readEvent.Set();
    return true;
}

void TraceReader::Unregister() {
    if (!registered_)
        return;
    registered_ = false;
    // Under the mutex when it can be had soon; a writer in the middle of a
    // hand-over holds it, and the counts are changed atomically either way.
    NamedMutex::LockResult locked = Lock(1500ms);
    const bool held =
        locked == NamedMutex::LockResult::Acquired || locked == NamedMutex::LockResult::OwnerDied;
    DecrementIfPositive(transport_.Counter(tt::kMonitorCountOffset));
    if (allKinds_) {
        for (std::size_t offset : kListenerOffsets) DecrementIfPositive(transport_.Counter(offset));
    }
    // Whoever stays may be waiting for our readiness: without it the writer
    // would wait a second for it and then write off one of them, not us.
    transport_.readEvent.Set();
    if (held)
        transport_.mutex.Unlock();
}

TraceChunk TraceReader::ReadChunk() const {
    TraceChunk chunk;
    std::memcpy(&chunk.category, transport_.area.Data() + tt::kChunkCategoryOffset,
                sizeof chunk.category);
    std::memcpy(&chunk.timestamp, transport_.area.Data() + tt::kChunkTimestampOffset,
                sizeof chunk.timestamp);
    std::memcpy(&chunk.announcedLength, transport_.area.Data() + tt::kChunkLengthOffset,
                sizeof chunk.announcedLength);
    if (chunk.announcedLength >= 1 &&
        chunk.announcedLength <= static_cast<std::int32_t>(tt::kChunkCapacity)) {
        const char* bytes =
            reinterpret_cast<const char*>(transport_.area.Data() + tt::kChunkOffset);
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
            // take it a second time. The writer closes it by resetting
            // WriteEvent and then setting WriteFinishedEvent: wait for the
            // latter, and look at the former after each slice.
            if (transport_.writeEvent.IsSet() && !transport_.writeFinishedEvent.Wait(slice))
                continue;
            chunkOpen_ = false;
            transport_.readEvent.Set();
        }
        // Written off by a writer that lost patience with us: count us in again.
        if (registered_ && transport_.Counter(tt::kMonitorCountOffset).load() <= 0) {
            transport_.Counter(tt::kMonitorCountOffset).fetch_add(1);
            transport_.readEvent.Set();
        }
        if (!transport_.writeEvent.Wait(slice))
            continue;
        if (transport_.writeFinishedEvent.IsSet()) {
            // Announced and finished at once: no writer does that, so this
            // short pause can only repeat while something else is at work.
            std::this_thread::sleep_for(std::min(slice, std::chrono::milliseconds(10)));
            continue;
        }
        transport_.Counter(tt::kReaderCountOffset).fetch_add(1);
        TraceChunk chunk = ReadChunk();
        // Not ready again before the writer has closed this chunk.
        transport_.readEvent.Reset();
        if (transport_.Counter(tt::kReaderCountOffset).fetch_sub(1) - 1 <= 0)
            transport_.readFinishedEvent.Set();
        chunkOpen_ = true;
        return chunk;
    }
}
