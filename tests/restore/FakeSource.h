#pragma once
// A backup held in memory, handed out as asked; `onRead` may raise instead,
// or do what should happen while the restore reads.

#include <functional>
#include <string>

#include "restore/BackupSource.h"

class FakeSource : public restore::IBackupSource {
  public:
    explicit FakeSource(std::string data) : data_(std::move(data)) {}
    std::size_t Read(char* buffer, std::size_t max) override {
        if (onRead)
            onRead(at_);
        const std::size_t n = std::min(max, data_.size() - at_);
        data_.copy(buffer, n, at_);
        at_ += n;
        return n;
    }
    std::int64_t Consumed() const override { return static_cast<std::int64_t>(at_); }
    std::optional<std::int64_t> Total() const override {
        return static_cast<std::int64_t>(data_.size());
    }
    std::function<void(std::size_t at)> onRead;

  private:
    std::string data_;
    std::size_t at_ = 0;
};
