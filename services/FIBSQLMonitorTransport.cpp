#include "services/FIBSQLMonitorTransport.h"

#include <bit>
#include <cstring>

#include "core/Exceptions.h"
#include "services/FIBSQLMonitor.h"
#include "services/fib.h"

namespace tt = trace_transport;
using platform::ipc::NamedEvent;
using platform::ipc::NamedMutex;
using platform::ipc::SharedMemory;

static_assert(std::endian::native == std::endian::little,
              "the shared area is little-endian and its counters are used in place");

namespace {

SharedMemory OpenArea() {
    SharedMemory area = SharedMemory::CreateOrOpen(tt::kSharedMemName, tt::kAreaSize);
    if (!area.Existed()) {
        // Done before the mutex exists, so no monitor can have registered
        // yet; the chunk, its category and timestamp are left alone.
        for (std::size_t offset :
             {tt::kMonitorCountOffset, tt::kReaderCountOffset, tt::kChunkLengthOffset,
              tt::kPrepareListenersOffset, tt::kExecuteListenersOffset, tt::kFetchListenersOffset,
              tt::kConnectListenersOffset, tt::kTransactionListenersOffset}) {
            std::memset(area.Data() + offset, 0, sizeof(std::int32_t));
        }
    }
    return area;
}

}  // namespace

// The area is made first, so that a second process that finds it waits for
// the rest instead of creating it.
TraceTransport::TraceTransport() try
    : area(OpenArea()),
      mutex(NamedMutex::CreateOrOpen(tt::kMutexName)),
      writeEvent(NamedEvent::CreateOrOpen(tt::kWriteEventName, false)),
      writeFinishedEvent(NamedEvent::CreateOrOpen(tt::kWriteFinishedEventName, true)),
      readEvent(NamedEvent::CreateOrOpen(tt::kReadEventName, false)),
      readFinishedEvent(NamedEvent::CreateOrOpen(tt::kReadFinishedEventName, false)) {
    RepairAndReadCount(tt::kMonitorCountOffset);
    RepairAndReadCount(tt::kReaderCountOffset);
} catch (const EOSError& e) {
    // The objects already opened are closed again by the time we get here.
    RaiseClientError(SharedResourceNotCreated, {e.ErrorCode()});
}

std::atomic_ref<std::int32_t> TraceTransport::Counter(std::size_t offset) const {
    return std::atomic_ref<std::int32_t>(*reinterpret_cast<std::int32_t*>(area.Data() + offset));
}

// Any process may write anything here. A count no set of monitor programs
// could produce is put back to 0 rather than trusted: counted down one per
// second it would stall the writer for years.
std::int32_t TraceTransport::RepairAndReadCount(std::size_t offset) const {
    auto counter = Counter(offset);
    std::int32_t value = counter.load();
    while (value < 0 || value > tt::kMaxMonitors) {
        if (counter.compare_exchange_weak(value, 0))
            return 0;
    }
    return value;
}

void TraceTransport::RestoreIdleEvents() {
    writeEvent.Reset();
    writeFinishedEvent.Set();
    readFinishedEvent.Reset();
}

void TraceTransport::WriteChunk(const TFIBTraceObject& message, const char* bytes,
                                std::size_t length) {
    const auto category = static_cast<std::int32_t>(message.category);
    const auto size = static_cast<std::int32_t>(length);
    std::memcpy(area.Data() + tt::kChunkCategoryOffset, &category, sizeof category);
    std::memcpy(area.Data() + tt::kChunkTimestampOffset, &message.timestamp,
                sizeof message.timestamp);
    std::memcpy(area.Data() + tt::kChunkLengthOffset, &size, sizeof size);
    std::memcpy(area.Data() + tt::kChunkOffset, bytes, length);
}
