#pragma once
// The error classes every layer raises. The message text is what the
// operator finally reads, so it is kept verbatim: no decoration is added here.

#include <cstdint>
#include <exception>
#include <string>

class Exception : public std::exception {
  public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    ~Exception() override = default;

    const std::string& Message() const noexcept { return message_; }
    void SetMessage(std::string message) { message_ = std::move(message); }
    std::int32_t HelpContext() const noexcept { return helpContext_; }
    const char* what() const noexcept override { return message_.c_str(); }

  private:
    std::string message_;
    std::int32_t helpContext_ = 0;
};

// The silent kind: it unwinds a handler without being shown to the operator.
class EAbort : public Exception {
  public:
    EAbort() : Exception("Operation aborted") {}
};

class EDatabaseError : public Exception {
  public:
    using Exception::Exception;
};

class EConvertError : public Exception {
  public:
    using Exception::Exception;
};

// An operating-system failure, with the platform's error code.
class EOSError : public Exception {
  public:
    EOSError(std::string message, std::uint32_t errorCode)
        : Exception(std::move(message)), errorCode_(errorCode) {}
    std::uint32_t ErrorCode() const noexcept { return errorCode_; }

  private:
    std::uint32_t errorCode_;
};

class EInOutError : public Exception {
  public:
    explicit EInOutError(std::string message, int errorCode = 0)
        : Exception(std::move(message)), errorCode_(errorCode) {}
    int ErrorCode() const noexcept { return errorCode_; }

  private:
    int errorCode_;
};
