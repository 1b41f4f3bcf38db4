#pragma once
// The shared objects of the trace transport, opened by name: the writer in
// the services client and the monitor programs use the very same set, so
// that both sides agree on names, sizes and the events' first states.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/ipc/NamedObjects.h"

struct TFIBTraceObject;

struct TraceTransport {
    platform::ipc::SharedMemory area;
    platform::ipc::NamedMutex mutex;
    platform::ipc::NamedEvent writeEvent;
    platform::ipc::NamedEvent writeFinishedEvent;
    platform::ipc::NamedEvent readEvent;
    platform::ipc::NamedEvent readFinishedEvent;

    // Opens the objects, creating those that no process has made yet; a new
    // area starts with every count at 0. Raises client error 54 (with the
    // system's error code) when one cannot be created or opened, for
    // instance when its name is taken by something that is not ours.
    TraceTransport();

    // A 32-bit count of the area, changed in place by every process.
    std::atomic_ref<std::int32_t> Counter(std::size_t offset) const;
    // Writes 0 over a count that no set of monitor programs could have
    // produced, then returns the count.
    std::int32_t RepairAndReadCount(std::size_t offset) const;
    // The events as they stand between two chunks. Whoever recovers the
    // mutex from a dead owner calls this: nobody else can be in a hand-over
    // then, and an owner killed in one leaves the readers waiting for a
    // chunk to close that never will.
    void RestoreIdleEvents();
    // Fills the area with one chunk of `message`.
    void WriteChunk(const TFIBTraceObject& message, const char* bytes, std::size_t length);
};
