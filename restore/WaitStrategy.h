#pragma once
// How a front end waits for the server while it restores. The window keeps
// itself alive between status queries; the command line lets the query
// itself wait in the server, or feeds the backup to it (StreamFeed.h).

#include <chrono>
#include <string>

#include "restore/RestoreEvents.h"
#include "restore/StopToken.h"

class TpFIBRestoreService;

namespace restore {

// How the input of a streamed restore came to its end.
enum class InputEnd {
    Complete,    // the whole backup was handed to the server
    Stopped,     // ended early on request, so that the server abandons the restore
    Unreadable,  // ended early because the backup could not be read on
};

// What a wait hands back to the restore while it runs.
class IWaitContext {
  public:
    virtual ~IWaitContext() = default;
    // One line of the server's output, in order.
    virtual void OutputLine(const std::string& line) = 0;
    // Called once per turn of the wait; cheap, so a tight loop may call it
    // every time. Progress figures are taken only a few times a second.
    // Raises ERestoreAbandoned once asked to leave at once.
    virtual void Turn() = 0;
    // Whether, and how hard, the restore is asked to stop.
    virtual StopLevel Stop() const { return StopLevel::None; }
    // How the wait answers a request to stop; only the first answer counts.
    virtual void Stopping(StopEffect /*effect*/) {}
    virtual void InputEnded(InputEnd /*how*/) {}
    // The server has ended the restore, although the wait goes on to raise.
    virtual void ServerEnded() {}
};

class IWaitStrategy {
  public:
    virtual ~IWaitStrategy() = default;
    // Returns once the started action has finished; the services client's
    // errors pass through.
    virtual void Wait(TpFIBRestoreService& service, IWaitContext& context) = 0;
    // Lets about `duration` pass while the restore waits for the server to
    // let go of a file, keeping the caller alive as its waits do.
    virtual void Pause(std::chrono::milliseconds duration) = 0;
};

// Waits inside the server: each query asks for the action's output with a
// time limit, so neither side works while the restore runs. Used where
// nothing else needs the thread (the command line). The server reads the
// backup itself here and cannot be stopped: a request to stop is answered
// with CannotStop.
class ServerSideWait : public IWaitStrategy {
  public:
    explicit ServerSideWait(int queryTimeoutSeconds = 1) : timeout_(queryTimeoutSeconds) {}
    void Wait(TpFIBRestoreService& service, IWaitContext& context) override;
    void Pause(std::chrono::milliseconds duration) override;

  private:
    int timeout_;
};

// Splits output chunks into lines; a line cut by the end of a chunk is
// held until the rest arrives.
class LineSplitter {
  public:
    template <class F>
    void Feed(const std::string& chunk, F&& line) {
        for (char c : chunk) {
            if (c == '\n') {
                line(pending_);
                pending_.clear();
            } else if (c != '\r') {
                pending_ += c;
            }
        }
    }
    template <class F>
    void Flush(F&& line) {
        if (!pending_.empty())
            line(pending_);
        pending_.clear();
    }

  private:
    std::string pending_;
};

}  // namespace restore
