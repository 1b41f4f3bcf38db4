#pragma once
// Errors of the services client and how they are raised. Every failure ends as
// an error whose message is what the operator reads: either the server's own
// account of a failed client-library call, or one of our fixed client texts.
//
// This header is included by the window, so it carries no client-library
// types: the status word is declared here with the same width.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <type_traits>

#include "core/Component.h"
#include "core/Exceptions.h"
#include "core/Format.h"

class IIBClientLibrary;

// One word of a status vector; as wide as the client library's status type.
using FibStatusWord = std::intptr_t;
inline constexpr int kStatusVectorLength = 20;

// The calling thread's own status vector (20 words, zero when the thread
// starts). Every client-library call is handed this address.
FibStatusWord* ThreadStatusVector();

// Switches that decide what a server error text holds.
enum ErrorMessageOption : std::uint8_t {
    ShowServerMessages = 2,
    ShowSqlMessage = 4,
    ShowSenderPath = 8,
};
inline constexpr std::uint8_t kDefaultErrorMessageOptions =
    ShowServerMessages | ShowSqlMessage | ShowSenderPath;

// The process-wide switches; safe to read and set from any thread.
std::uint8_t ErrorMessageOptions();
// Nothing in the tool changes them; tests do, and put them back with Reset.
void SetErrorMessageOptions(std::uint8_t value);
void ResetErrorMessageOptions();

// Client-side error codes that the services client raises itself.
enum ClientErrorCode : int {
    OperationCancelled = 7,
    SharedResourceNotCreated = 54,
    ServiceNotAttached = 65,
    ServiceAttached = 66,
    ServerNameMissing = 67,
    QueryParamsInvalid = 68,
    StartParamsInvalid = 69,
    UnexpectedOutputValue = 70,
    GenericStartNotApplicable = 71,
    SpbConstantNotSupported = 72,
    SpbConstantUnknown = 73,
};
inline constexpr int kClientErrorMessageCount = 79;
extern const char* const ClientErrorMessages[kClientErrorMessageCount];

// Who raised an error: nobody, a component (whose path may prefix the text),
// or some other object (never a prefix).
class ErrorSender {
  public:
    ErrorSender() = default;
    ErrorSender(std::nullptr_t) {}            // NOLINT(google-explicit-constructor)
    ErrorSender(const TComponent* component)  // NOLINT(google-explicit-constructor)
        : object_(component), component_(component) {}
    template <class T>
    requires(!std::is_base_of_v<TComponent, T>) ErrorSender(const T* object)
        : object_(object) {}  // NOLINT(google-explicit-constructor)

    const void* Object() const { return object_; }
    const TComponent* Component() const { return component_; }

  private:
    const void* object_ = nullptr;
    const TComponent* component_ = nullptr;
};

class EFIBError : public EDatabaseError {
  public:
    // The basic form: prefixes the sender's component path when asked to.
    EFIBError(int code, const std::string& text, ErrorSender sender);
    // The server form: the SQLCODE message followed by the server's lines.
    EFIBError(int sqlCode, const std::string& sqlMessage, const std::string& serverMessage,
              ErrorSender sender);

    std::int32_t SqlCode() const { return sqlCode_; }
    std::int32_t ServerErrorCode() const { return serverErrorCode_; }
    const std::string& SqlMessage() const { return sqlMessage_; }
    const std::string& ServerMessage() const { return serverMessage_; }
    // Not owned; may be gone by the time the error is handled.
    const void* Sender() const { return sender_.Object(); }
    const TComponent* SenderComponent() const { return sender_.Component(); }

  private:
    std::int32_t sqlCode_ = 0;
    std::int32_t serverErrorCode_ = 0;
    std::string sqlMessage_;
    std::string serverMessage_;
    ErrorSender sender_;
};

// Reported by the server through a failed client-library call.
class EFIBInterBaseError : public EFIBError {
  public:
    using EFIBError::EFIBError;
};

// Detected by the services client itself; SqlCode is the client error code.
class EFIBClientError : public EFIBError {
  public:
    using EFIBError::EFIBError;
    int ClientErrorCode() const { return SqlCode(); }
};

// Turns the calling thread's status vector into an EFIBInterBaseError, reading
// the texts through `library` (the binding the failed call went through).
[[noreturn]] void RaiseServerError(const std::shared_ptr<IIBClientLibrary>& library,
                                   ErrorSender sender);

// Raises the client error `code` with its table text formatted with `args`.
[[noreturn]] void RaiseClientError(int code, std::initializer_list<FormatArg> args = {});
