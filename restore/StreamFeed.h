#pragma once
// The wait of a restore whose backup this process reads: it hands the
// server the backup as the restore's standard input, as much at a time as
// the server asks for, reads the server's output in the same exchanges, and
// ends the input early when asked to stop, which makes the server abandon
// the restore.

#include <cstdint>
#include <functional>
#include <string>

#include "restore/BackupSource.h"
#include "restore/WaitStrategy.h"

struct TServiceExchange;

namespace restore {

// Sends `input` (nothing when null; the end of the input when empty) and
// waits up to `timeoutSeconds` for output: one turn of the service.
using ExchangeFn =
    std::function<TServiceExchange(const std::string* input, std::int32_t timeoutSeconds)>;

class StreamFeed : public IWaitStrategy {
  public:
    explicit StreamFeed(IBackupSource& source, int queryTimeoutSeconds = 1)
        : source_(source), timeout_(queryTimeoutSeconds) {}

    void Wait(TpFIBRestoreService& service, IWaitContext& context) override;
    void Pause(std::chrono::milliseconds duration) override;

    // The feed itself, over any exchange. A backup that cannot be read on
    // ends the input; its error is raised once the server has ended.
    void Feed(const ExchangeFn& exchange, IWaitContext& context);

  private:
    // Up to `wanted` bytes of the backup into chunk_; empty at its end.
    void ReadChunk(std::size_t wanted);

    IBackupSource& source_;
    int timeout_;
    std::string chunk_;
};

}  // namespace restore
