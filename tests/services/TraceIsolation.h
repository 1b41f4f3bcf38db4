#pragma once
// Every service operation reports to the trace monitor, which opens objects
// shared by name. The test main (tests/support) already keeps this
// program's names behind a prefix of its own and sweeps them at the end;
// here each program starts and ends with a monitor that has seen nothing.

#include <gtest/gtest.h>

#include "platform/ipc/NamedObjects.h"
#include "services/FIBSQLMonitor.h"

class TraceIsolation : public ::testing::Environment {
  public:
    void SetUp() override { ResetTraceMonitorForTests(); }
    void TearDown() override {
        ResetTraceMonitorForTests();
        RemoveTraceObjects();
    }

    static void RemoveTraceObjects() {
        namespace tt = trace_transport;
        for (const char* name :
             {tt::kMutexName, tt::kSharedMemName, tt::kWriteEventName, tt::kWriteFinishedEventName,
              tt::kReadEventName, tt::kReadFinishedEventName})
            platform::ipc::RemoveNamedObject(name);
    }
};

inline ::testing::Environment* const traceIsolation =
    ::testing::AddGlobalTestEnvironment(new TraceIsolation);
