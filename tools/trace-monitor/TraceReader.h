#pragma once
// The reading side of the trace transport: one registered monitor program.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "services/FIBSQLMonitorTransport.h"

struct TraceChunk {
    std::int32_t category = 0;
    double timestamp = 0;
    // The chunk's bytes; empty when the area announced a length outside 1..2002.
    std::string bytes;
    std::int32_t announcedLength = 0;
};

class TraceReader {
  public:
    // Opens (or creates, when no writer has yet) the shared objects.
    // Raises client error 54 when they cannot be opened.
    TraceReader();
    ~TraceReader();
    TraceReader(const TraceReader&) = delete;
    TraceReader& operator=(const TraceReader&) = delete;

    // Counts this monitor in; with `allKinds` also in every listener count.
    // False when `stop` was raised before the mutex could be had.
    bool Register(bool allKinds, const std::atomic<bool>& stop);
    // Counts it out again (also done by the destructor).
    void Unregister();

    // Waits up to `timeout` for the next chunk; nothing on time-out or stop.
    std::optional<TraceChunk> Next(std::chrono::milliseconds timeout,
                                   const std::atomic<bool>& stop);

  private:
    // Locks the mutex; one recovered from a dead owner gets its events put
    // back to their state between chunks.
    platform::ipc::NamedMutex::LockResult Lock(std::chrono::milliseconds timeout);
    TraceChunk ReadChunk() const;

    TraceTransport transport_;
    bool registered_ = false;
    bool allKinds_ = false;
    // The chunk returned last may still be announced by the writer.
    bool chunkOpen_ = false;
};
