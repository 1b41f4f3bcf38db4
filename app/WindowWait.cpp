#include "app/WindowWait.h"

#include <thread>

#include "platform/WindowLayer.h"
#include "services/IB_Services.h"

void WindowWait::Wait(TpFIBRestoreService& service, restore::IWaitContext& context) {
    if (service.Verbose()) {
        // The empty line that ends the output is handed on as well.
        while (!service.EndOfOutput()) {
            platform::Window().ProcessMessages();
            context.OutputLine(service.NextOutputLine());
            context.Turn();
        }
        return;
    }
    while (service.IsRunning()) {
        platform::Window().ProcessMessages();
        context.Turn();
    }
}

void WindowWait::Pause(std::chrono::milliseconds duration) {
    const auto until = std::chrono::steady_clock::now() + duration;
    do {
        platform::Window().ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < until);
}
