#include "services/FIBSQLMonitor.h"

// Placeholder until the shared-memory transport lands: a monitor that never
// has a listener.
TFIBSQLMonitorHook::TFIBSQLMonitorHook() = default;
TFIBSQLMonitorHook::~TFIBSQLMonitorHook() = default;
void TFIBSQLMonitorHook::Connect(TComponent*) {}
void TFIBSQLMonitorHook::Disconnect(TComponent*) {}
void TFIBSQLMonitorHook::ServiceAttach(TComponent*) {}
void TFIBSQLMonitorHook::ServiceDetach(TComponent*) {}
void TFIBSQLMonitorHook::ServiceQuery(TComponent*) {}
void TFIBSQLMonitorHook::ServiceStart(TComponent*) {}

TFIBSQLMonitorHook* TraceMonitor() {
    static TFIBSQLMonitorHook hook;
    return &hook;
}
