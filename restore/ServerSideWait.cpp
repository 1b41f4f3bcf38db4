#include <thread>

#include "restore/WaitStrategy.h"
#include "services/IB_Services.h"

namespace restore {

void ServerSideWait::Wait(TpFIBRestoreService& service, IWaitContext& context) {
    LineSplitter lines;
    auto deliver = [&context](const std::string& line) { context.OutputLine(line); };
    while (!service.EndOfOutput()) {
        lines.Feed(service.ReadOutput(timeout_), deliver);
        context.Turn();
        AfterQuery();
    }
    lines.Flush(deliver);
}

void ServerSideWait::Pause(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

}  // namespace restore
