// The read-ahead: a thread that reads the source into a ring of fixed
// chunks while the caller takes from the other end.

#include "restore/BackupSource.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "restore/RestoreErrors.h"

namespace restore {

namespace {

// The server takes at most about 64 KiB a call, so a chunk of that size is
// ready to send as soon as one read has filled it.
constexpr std::size_t kChunkSize = std::size_t{64} << 10;

struct Chunk {
    enum class Kind { Data, End, Error };
    std::vector<char> data;
    std::size_t size = 0;
    Kind kind = Kind::Data;
    std::exception_ptr error;
    // The source's Consumed once this chunk had been read.
    std::int64_t consumedAfter = 0;
};

class ReadAheadSource final : public IBackupSource {
  public:
    ReadAheadSource(std::unique_ptr<IBackupSource> source, std::size_t capacity)
        : source_(std::move(source)),
          total_(source_->Total()),
          ring_(std::max<std::size_t>(2, capacity / kChunkSize)) {
        for (Chunk& chunk : ring_) chunk.data.resize(kChunkSize);
        consumedBefore_ = source_->Consumed();
        consumed_.store(consumedBefore_);
        thread_ = std::jthread([this](const std::stop_token& stop) { Fill(stop); });
    }

    ~ReadAheadSource() override {
        thread_.request_stop();
        source_->Interrupt();
        thread_.join();
    }

    ReadAheadSource(const ReadAheadSource&) = delete;
    ReadAheadSource& operator=(const ReadAheadSource&) = delete;

    std::size_t Read(char* buffer, std::size_t max) override {
        std::size_t given = 0;
        while (given < max) {
            {
                std::unique_lock lock(mutex_);
                if (given == 0)
                    filled_.wait(lock, [this] { return count_ > 0 || interrupted_; });
                if (interrupted_ && given == 0)
                    throw EBackupStopped();
                if (interrupted_ || count_ == 0)
                    break;
            }
            // The chunk at the head is the reader's alone until it is given back.
            Chunk& chunk = ring_[head_];
            if (chunk.kind == Chunk::Kind::End) {
                consumed_.store(chunk.consumedAfter);
                break;
            }
            if (chunk.kind == Chunk::Kind::Error) {
                if (given > 0)
                    break;
                std::rethrow_exception(chunk.error);
            }
            const std::size_t n = std::min(max - given, chunk.size - offset_);
            std::memcpy(buffer + given, chunk.data.data() + offset_, n);
            given += n;
            offset_ += n;
            // Within a chunk, the stored bytes are taken as spread evenly.
            const std::int64_t span = chunk.consumedAfter - consumedBefore_;
            consumed_.store(consumedBefore_ + span * static_cast<std::int64_t>(offset_) /
                                                  static_cast<std::int64_t>(chunk.size));
            if (offset_ == chunk.size) {
                consumedBefore_ = chunk.consumedAfter;
                offset_ = 0;
                head_ = (head_ + 1) % ring_.size();
                {
                    std::lock_guard lock(mutex_);
                    --count_;
                }
                freed_.notify_one();
            }
        }
        return given;
    }

    std::int64_t Consumed() const override { return consumed_.load(); }
    std::optional<std::int64_t> Total() const override { return total_; }

    void Interrupt() override {
        {
            std::lock_guard lock(mutex_);
            interrupted_ = true;
        }
        filled_.notify_all();
        thread_.request_stop();
        source_->Interrupt();
    }

  private:
    void Fill(const std::stop_token& stop) {
        std::size_t tail = 0;
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                if (!freed_.wait(lock, stop, [this] { return count_ < ring_.size(); }))
                    return;
            }
            Chunk& chunk = ring_[tail];
            try {
                chunk.size = source_->Read(chunk.data.data(), chunk.data.size());
                chunk.kind = chunk.size > 0 ? Chunk::Kind::Data : Chunk::Kind::End;
                chunk.consumedAfter = source_->Consumed();
            } catch (...) {
                // Once stopped, nobody reads what the thread would hand on.
                if (stop.stop_requested())
                    return;
                chunk.kind = Chunk::Kind::Error;
                chunk.error = std::current_exception();
            }
            const bool last = chunk.kind != Chunk::Kind::Data;
            tail = (tail + 1) % ring_.size();
            {
                std::lock_guard lock(mutex_);
                ++count_;
            }
            filled_.notify_one();
            if (last)
                return;
        }
    }

    std::unique_ptr<IBackupSource> source_;
    const std::optional<std::int64_t> total_;
    std::vector<Chunk> ring_;

    std::mutex mutex_;
    std::condition_variable_any filled_;
    std::condition_variable_any freed_;
    std::size_t count_ = 0;  // chunks handed from the thread to the reader
    bool interrupted_ = false;

    // The reader's own: where it is in the head chunk.
    std::size_t head_ = 0;
    std::size_t offset_ = 0;
    std::int64_t consumedBefore_ = 0;
    std::atomic<std::int64_t> consumed_{0};

    std::jthread thread_;
};

}  // namespace

std::unique_ptr<IBackupSource> ReadAhead(std::unique_ptr<IBackupSource> source,
                                         std::size_t capacity) {
    return std::make_unique<ReadAheadSource>(std::move(source), capacity);
}

}  // namespace restore
