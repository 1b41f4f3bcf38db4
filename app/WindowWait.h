#pragma once
// The window's way of waiting for the server: one status query per turn,
// the pending window messages dispatched between turns, no pause, so the
// window repaints and takes a close request while the server works.

#include "restore/WaitStrategy.h"

class WindowWait : public restore::IWaitStrategy {
  public:
    void Wait(TpFIBRestoreService& service, restore::IWaitContext& context) override;
    void Pause(std::chrono::milliseconds duration) override;
};
