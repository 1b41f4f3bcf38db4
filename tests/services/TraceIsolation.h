#pragma once
// Every service operation reports to the trace monitor, which opens objects
// shared by name with every process on the machine. A test program that
// includes this header keeps its objects apart under a name prefix of its
// own, and takes them away again when it ends.

#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/ipc/NamedObjects.h"
#include "services/FIBSQLMonitor.h"

class TraceIsolation : public ::testing::Environment {
  public:
    void SetUp() override {
        platform::ipc::SetNamePrefix("svctest." + std::to_string(getpid()) + ".");
        ResetTraceMonitorForTests();
    }
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
