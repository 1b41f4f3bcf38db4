#include "restore/StreamFeed.h"

#include <exception>
#include <thread>

#include "restore/ConnectionLoss.h"
#include "services/IB_Services.h"

namespace restore {

void StreamFeed::ReadChunk(std::size_t wanted) {
    chunk_.resize(wanted);
    std::size_t filled = 0;
    // A read may bring less than asked: fill the request, so that the server
    // asks again at once instead of taking a short block.
    while (filled < wanted) {
        const std::size_t got = source_.Read(chunk_.data() + filled, wanted - filled);
        if (got == 0)
            break;
        filled += got;
    }
    chunk_.resize(filled);
}

void StreamFeed::Feed(const ExchangeFn& exchange, IWaitContext& context) {
    LineSplitter lines;
    auto deliver = [&context](const std::string& line) { context.OutputLine(line); };
    const std::string endOfInput;
    std::uint32_t wanted = 0;
    bool inputOver = false;
    std::exception_ptr unreadable;
    try {
        for (;;) {
            const std::string* input = nullptr;
            const bool stopAsked = context.Stop() != StopLevel::None;
            if (inputOver) {
                if (stopAsked)
                    context.Stopping(StopEffect::CannotStop);
                // An end that answered a request to read ahead is lost on the
                // server, which then asks again: it is told again.
                if (wanted > 0)
                    input = &endOfInput;
            } else if (stopAsked) {
                // The end goes when the server next asks for input; it asks
                // all the time while it reads the backup.
                context.Stopping(StopEffect::EndingInput);
                if (wanted > 0) {
                    inputOver = true;
                    input = &endOfInput;
                    context.InputEnded(InputEnd::Stopped);
                }
            } else if (!inputOver && wanted > 0) {
                try {
                    ReadChunk(wanted);
                } catch (...) {
                    chunk_.clear();
                    // A read the stop interrupted is the stop, met next turn.
                    if (context.Stop() != StopLevel::None)
                        continue;
                    unreadable = std::current_exception();
                }
                input = &chunk_;
                if (chunk_.empty()) {
                    inputOver = true;
                    context.InputEnded(unreadable ? InputEnd::Unreadable : InputEnd::Complete);
                }
            }
            const TServiceExchange answer = exchange(input, timeout_);
            wanted = answer.inputWanted;
            lines.Feed(answer.output, deliver);
            if (answer.endOfOutput)
                break;
            context.Turn();
        }
    } catch (const EFIBInterBaseError& error) {
        if (!unreadable)
            throw;
        // The server's account of the input that stopped short says less
        // than why it stopped; a lost connection leaves the end unknown.
        if (IsServerReport(error))
            context.ServerEnded();
        std::rethrow_exception(unreadable);
    }
    lines.Flush(deliver);
    if (unreadable) {
        context.ServerEnded();
        std::rethrow_exception(unreadable);
    }
}

void StreamFeed::Wait(TpFIBRestoreService& service, IWaitContext& context) {
    Feed(
        [&service](const std::string* input, std::int32_t timeoutSeconds) {
            return service.Exchange(input, timeoutSeconds);
        },
        context);
}

void StreamFeed::Pause(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

}  // namespace restore
