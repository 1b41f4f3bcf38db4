#pragma once
// The process-wide trace monitor: every successful service operation reports
// here, and the text reaches external monitor programs when any listen.

class TComponent;

class TFIBSQLMonitorHook {
public:
    TFIBSQLMonitorHook();
    virtual ~TFIBSQLMonitorHook();

    // Database events (category 3); the dataset layer would call these.
    virtual void Connect(TComponent* database);
    virtual void Disconnect(TComponent* database);
    // Service events (category 5).
    virtual void ServiceAttach(TComponent* service);
    virtual void ServiceDetach(TComponent* service);
    virtual void ServiceQuery(TComponent* service);
    virtual void ServiceStart(TComponent* service);
};

// The process's trace monitor, created at first use; none once the program
// has begun to shut down.
TFIBSQLMonitorHook* TraceMonitor();
