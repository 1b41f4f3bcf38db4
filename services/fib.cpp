#include "services/fib.h"

#include <atomic>

#include "core/Ascii.h"
#include "platform/FloatingPoint.h"
#include "services/IB_Intf.h"

static_assert(sizeof(FibStatusWord) == sizeof(ISC_STATUS), "status word width must follow the API");
static_assert(kStatusVectorLength == ISC_STATUS_LENGTH);

namespace {

thread_local FibStatusWord statusVector[kStatusVectorLength] = {};

// The switches live in one byte, read and written whole: an atomic is all
// the locking they need.
std::atomic<std::uint8_t> options{kDefaultErrorMessageOptions};

void UpperFirst(std::string& text) {
    if (!text.empty())
        text[0] = core::UpperAscii(text[0]);
}

std::string TextUpToZero(const char* buffer, std::size_t capacity) {
    std::size_t n = 0;
    while (n < capacity && buffer[n] != '\0') ++n;
    return std::string(buffer, n);
}

void RemoveBackslashN(std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            ++i;
            continue;
        }
        out += text[i];
    }
    text.swap(out);
}

}  // namespace

FibStatusWord* ThreadStatusVector() {
    return statusVector;
}

std::uint8_t ErrorMessageOptions() {
    return options.load(std::memory_order_relaxed);
}

void SetErrorMessageOptions(std::uint8_t value) {
    options.store(value, std::memory_order_relaxed);
}

void ResetErrorMessageOptions() {
    SetErrorMessageOptions(kDefaultErrorMessageOptions);
}

// The row number is the client error code. Row 75 is six lines of text.
// clang-format off
const char* const ClientErrorMessages[kClientErrorMessageCount] = {
    /* 0 */ "Unknown error.",
    /* 1 */ "Unsupported feature.",
    /* 2 */ "Not permitted.",
    /* 3 */ "Temporary file access error.",
    /* 4 */ "Database connection timed out.",
    /* 5 */ "Cannot set database.",
    /* 6 */ "Cannot set transaction.",
    /* 7 */ "Operation cancelled at user's request.",
    /* 8 */ "DPB Constant (isc_dpb_%s) is unsupported.",
    /* 9 */ "DPB Constant (%s) is unknown.",
    /* 10 */ "TPB Constant (isc_tpb_%s) is unsupported.",
    /* 11 */ "TPB Constant (%s) is unknown.",
    /* 12 */ "%s: Cannot perform operation -- DB is not open.",
    /* 13 */ "Cannot perform operation -- DB is currently open.",
    /* 14 */ "Database name is missing.",
    /* 15 */ "%s :Transaction is not active.",
    /* 16 */ "%s :Transaction is active.",
    /* 17 */ "Timeout values cannot be negative.",
    /* 18 */ "%s :No databases are listed in transaction component.",
    /* 19 */ "%s :Updating wrong database.",
    /* 20 */ "%s :Updating wrong transaction.",
    /* 21 */ "Database not assigned for %s.",
    /* 22 */ "Transaction not assigned for %s.",
    /* 23 */ "XSQLDA index out of range.",
    /* 24 */ "XSQLDA name does not exist (%s).",
    /* 25 */ "End of file.",
    /* 26 */ "Beginning of file.",
    /* 27 */ "%s:Invalid statement handle.",
    /* 28 */ "Can't %s because %s dataset open.",
    /* 29 */ "Can't %s because %s dataset closed.",
    /* 30 */ "Unknown SQL Data type (%d).",
    /* 31 */ "Invalid column index (index exceeds permitted range).",
    /* 32 */ "Invalid parameter index (index exceeds permitted range).",
    /* 33 */ "Invalid data conversion.",
    /* 34 */ "Column cannot be set to null (%s)",
    /* 35 */ "Blob stream cannot be read.",
    /* 36 */ "Blob stream cannot be written.",
    /* 37 */ "Can't %s , because  query is empty",
    /* 38 */ "Can't \"open\" a non-select statement. Use ExecQuery.",
    /* 39 */ "No access to field \"%s\".",
    /* 40 */ "Field \"%s\" is read-only.",
    /* 41 */ "Field \"%s\" not found.",
    /* 42 */ "DataSet not in Edit or Insert mode.(%s)",
    /* 43 */ "Not editing.",
    /* 44 */ "Can't insert into dataset. (%s)",
    /* 45 */ "Can't post. (%s) ",
    /* 46 */ "Can't update. (%s)",
    /* 47 */ "Can't delete from dataset. (%s)",
    /* 48 */ "Can't refresh row. (%s)",
    /* 49 */ "Buffer not set.",
    /* 50 */ "Circular references not permitted.(%s)",
    /* 51 */ "SQL Parse Error in :%s \r\n\r\n%s",
    /* 52 */ "User abort.",
    /* 53 */ "Data set is uni-directional.",
    /* 54 */ "Cannot create shared resource. (Windows error %d)",
    /* 55 */ "Windows API error. (Windows error %d [$%.8x])",
    /* 56 */ "Column lists do not match.",
    /* 57 */ "Column types don't match. (From index: %d, To index: %d)",
    /* 58 */ "Can't end a shared transaction unless it is forced and equal to the transaction's TimeoutAction.",
    /* 59 */ "Column types \"%s\" is not array field",
    /* 60 */ "Dimension %d don't exist in \"%s\" ",
    /* 61 */ "SQL Dialect invalid",
    /* 62 */ "InterBase library gds32.dll not found in the path. Please install InterBase to use this functionality",
    /* 63 */ "%s is an InterBase6 function. Please upgrade to InterBase6 to use this functonality",
    /* 64 */ "InterBase Install DLL ibinstall.dll not found in the path. Please install InterBase 6 to use this functionality",
    /* 65 */ "Cannot perform operation -- service is not attached",
    /* 66 */ "Cannot perform operation -- service is attached",
    /* 67 */ "Server Name Missing",
    /* 68 */ "Query Parameters missing or incorrect",
    /* 69 */ "Start Parameters missing or incorrect",
    /* 70 */ "Unexpected Output buffer value",
    /* 71 */ "Generic ServiceStart not applicable: Use Specific Procedures to set configuration params",
    /* 72 */ "SPB Constant Not supported",
    /* 73 */ "SPB Constant Unknown",
    /* 74 */ "Field Size too small. Field %s.%s",
    /* 75 */ "%s. Can't use limited cache. \r\n"
              "CachedUpdates must be False,\r\n"
              "Select must have \"Order by\" clause ,\r\n"
              "All order fields must exist in fields section\r\n"
              "Select can't use params with prefix \"NEW_\"\r\n"
              "UpdateTransaction must be equel Transaction or AutoCommit=True ",
    /* 76 */ "Error in %s. FieldList is empty.",
    /* 77 */ "%s can't use field \"%s\"",
    /* 78 */ "%s is an Firebird 2 function. Please upgrade to Firebird 2 to use this functonality",
};
// clang-format on

EFIBError::EFIBError(int code, const std::string& text, ErrorSender sender)
    : EDatabaseError(std::string()),
      sqlCode_(code),
      serverErrorCode_(static_cast<std::int32_t>(statusVector[1])),
      sender_(sender) {
    std::string prefix;
    if (sender.Component() && (ErrorMessageOptions() & ShowSenderPath) != 0)
        prefix = ComponentPath(sender.Component()) + ":\r\n";
    SetMessage(prefix + text);
}

EFIBError::EFIBError(int sqlCode, const std::string& sqlMessage, const std::string& serverMessage,
                     ErrorSender sender)
    : EFIBError(sqlCode, sqlMessage + serverMessage, sender) {
    sqlMessage_ = sqlMessage;
    serverMessage_ = serverMessage;
}

// The text functions are client-library calls like any other: each one is
// followed by the reset of the floating-point control word.
void RaiseServerError(const std::shared_ptr<IIBClientLibrary>& library, ErrorSender sender) {
    FibStatusWord* vector = ThreadStatusVector();
    const std::uint8_t switches = ErrorMessageOptions();

    const ISC_LONG sqlCode = library->isc_sqlcode(vector);
    platform::ResetFpuToDefault();
    std::string sqlMessage;
    std::string serverMessage;
    constexpr std::size_t kBufferSize = 20480;
    std::unique_ptr<char[]> buffer(new char[kBufferSize]());

    if (switches & ShowSqlMessage) {
        library->isc_sql_interprete(static_cast<short>(sqlCode), buffer.get(), 512);
        platform::ResetFpuToDefault();
        sqlMessage = TextUpToZero(buffer.get(), kBufferSize);
        RemoveBackslashN(sqlMessage);
        if (!sqlMessage.empty()) {
            UpperFirst(sqlMessage);
            if (sqlMessage.back() != '.')
                sqlMessage += ".\r\n";
        }
    }

    if (switches & ShowServerMessages) {
        ISC_STATUS* cursor = vector;
        for (;;) {
            buffer[0] = '\0';
            const ISC_LONG length = library->isc_interprete(buffer.get(), &cursor);
            platform::ResetFpuToDefault();
            if (length <= 0)
                break;
            std::string line = TextUpToZero(buffer.get(), kBufferSize);
            if (line.empty())
                continue;
            UpperFirst(line);
            serverMessage += line;
            if (serverMessage.back() != '.')
                serverMessage += '.';
            serverMessage += "\r\n";
        }
    }
    throw EFIBInterBaseError(sqlCode, sqlMessage, serverMessage, sender);
}

void RaiseClientError(int code, std::initializer_list<FormatArg> args) {
    const char* templ = code >= 0 && code < kClientErrorMessageCount ? ClientErrorMessages[code]
                                                                     : ClientErrorMessages[0];
    throw EFIBClientError(code, Format(templ, args), nullptr);
}
