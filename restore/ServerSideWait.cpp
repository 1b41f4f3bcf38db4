#include <thread>

#include "restore/WaitStrategy.h"
#include "services/IB_Services.h"

namespace restore {

void ServerSideWait::Wait(TpFIBRestoreService& service, IWaitContext& context) {
    LineSplitter lines;
    auto deliver = [&context](const std::string& line) { context.OutputLine(line); };
    while (!service.EndOfOutput()) {
        if (context.Stop() != StopLevel::None)
            context.Stopping(StopEffect::CannotStop);
        lines.Feed(service.ReadOutput(timeout_), deliver);
        context.Turn();
    }
    lines.Flush(deliver);
}

void ServerSideWait::Pause(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

}  // namespace restore
