#pragma once
// How a front end waits for the server while it restores. The window keeps
// itself alive between status queries; the command line lets the query
// itself wait in the server.

#include <chrono>
#include <string>

class TpFIBRestoreService;

namespace restore {

// What a wait hands back to the restore while it runs.
class IWaitContext {
  public:
    virtual ~IWaitContext() = default;
    // One line of the server's output, in order.
    virtual void OutputLine(const std::string& line) = 0;
    // Called once per turn of the wait; cheap, so a tight loop may call it
    // every time. Progress figures are taken only a few times a second.
    virtual void Turn() = 0;
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
// nothing else needs the thread (the command line).
class ServerSideWait : public IWaitStrategy {
  public:
    explicit ServerSideWait(int queryTimeoutSeconds = 1) : timeout_(queryTimeoutSeconds) {}
    void Wait(TpFIBRestoreService& service, IWaitContext& context) override;
    void Pause(std::chrono::milliseconds duration) override;

  protected:
    // Called after every query; what it raises leaves the wait (the action
    // may still run on the server).
    virtual void AfterQuery() {}

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
