#include "services/IB_Services.h"

#include <cstring>
#include <limits>
#include <mutex>
#include <type_traits>
#include <utility>

#include "core/Exceptions.h"
#include "core/Format.h"
#include "platform/FloatingPoint.h"
#include "services/FIBSQLMonitor.h"
#include "services/IB_Intf.h"

static_assert(std::is_same_v<isc_svc_handle, std::uint32_t>, "service handles are 32-bit here");

namespace {

// Services API item codes.
constexpr char kSpbVersion = isc_spb_version;
constexpr char kSpbCurrentVersion = isc_spb_current_version;
constexpr std::uint8_t kInfoSvcRunning = isc_info_svc_running;   // 67
constexpr std::uint8_t kInfoSvcLine = isc_info_svc_line;         // 62
constexpr std::uint8_t kInfoSvcToEof = isc_info_svc_to_eof;      // 63
constexpr std::uint8_t kInfoSvcTimeout = isc_info_svc_timeout;   // 64
constexpr std::uint8_t kInfoEnd = isc_info_end;                  // 1
constexpr std::uint8_t kActionRestore = isc_action_svc_restore;  // 2
constexpr std::uint8_t kSpbOptions = isc_spb_options;            // 108
constexpr std::uint8_t kSpbVerbose = isc_spb_verbose;            // 107
constexpr std::uint8_t kSpbDbName = isc_spb_dbname;              // 106
constexpr std::uint8_t kSpbResPageSize = isc_spb_res_page_size;  // 10
constexpr std::uint8_t kSpbResBuffers = isc_spb_res_buffers;     // 9
constexpr std::uint8_t kSpbBkpFile = isc_spb_bkp_file;           // 5
constexpr std::uint8_t kSpbBkpLength = isc_spb_bkp_length;       // 7
constexpr std::uint8_t kSpbResLength = isc_spb_res_length;       // 11

constexpr std::int32_t kMinBufferSize = 5;  // the running answer: item and a 4-byte integer
constexpr std::int32_t kMaxBufferSize = 65535;
constexpr std::size_t kMaxSpbValue = 255;
constexpr std::size_t kMaxBlockLength = 65535;

// The parameters a Params line may name, in search order; only user name,
// password and role name go into the attach block.
struct SpbParameter {
    const char* name;
    std::uint8_t item;
    bool accepted;
};
constexpr SpbParameter kSpbParameters[] = {
    {"user_name", isc_spb_user_name, true},           // 28
    {"sys_user_name", isc_spb_sys_user_name, false},  // 19
    {"sys_user_name_enc", isc_spb_sys_user_name_enc, false},
    {"password", isc_spb_password, true},  // 29
    {"password_enc", isc_spb_password_enc, false},
    {"command_line", isc_spb_command_line, false},
    {"db_name", isc_spb_dbname, false},
    {"verbose", isc_spb_verbose, false},
    {"options", isc_spb_options, false},
    {"connect_timeout", isc_spb_connect_timeout, false},
    {"dummy_packet_interval", isc_spb_dummy_packet_interval, false},
    {"sql_role_name", isc_spb_sql_role_name, true},  // 60
};
static_assert(isc_spb_sys_user_name_enc == 31 && isc_spb_password_enc == 30 &&
              isc_spb_connect_timeout == 57 && isc_spb_dummy_packet_interval == 58 &&
              isc_spb_user_name == 28 && isc_spb_password == 29 && isc_spb_sql_role_name == 60 &&
              isc_spb_sys_user_name == 19);

std::mutex loginPromptLock;
TLoginPromptProc loginPromptProc;

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string Trim(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// An optionally signed decimal integer, blanks around it allowed.
std::int32_t StrToInt(const std::string& text) {
    const std::string t = Trim(text);
    std::size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        negative = t[i++] == '-';
    if (i >= t.size())
        throw EConvertError(Format("'%s' is not a valid integer value", {text}));
    std::int64_t value = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9' || value > std::int64_t{1} << 32)
            throw EConvertError(Format("'%s' is not a valid integer value", {text}));
        value = value * 10 + (t[i] - '0');
    }
    if (negative)
        value = -value;
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        throw EConvertError(Format("'%s' is not a valid integer value", {text}));
    return static_cast<std::int32_t>(value);
}

void AppendInteger(std::string& block, std::uint8_t item, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    block += static_cast<char>(item);
    for (int shift = 0; shift < 32; shift += 8) block += static_cast<char>((v >> shift) & 0xFF);
}

// The first line that has `name` at its start or right after an
// eight-character prefix such as "isc_spb_".
int FindParamLine(const TStrings& params, const std::string& name) {
    for (int i = 0; i < params.Count(); ++i) {
        const std::size_t at = params[i].find(name);
        if (at == 0 || at == 8)
            return i;
    }
    return -1;
}

}  // namespace

void SetLoginPromptProc(TLoginPromptProc proc) {
    std::lock_guard<std::mutex> guard(loginPromptLock);
    loginPromptProc = std::move(proc);
}

TLoginPromptProc LoginPromptProc() {
    std::lock_guard<std::mutex> guard(loginPromptLock);
    return loginPromptProc;
}

void ResetLoginPromptProc() {
    SetLoginPromptProc(nullptr);
}

std::string ServiceManagerName(TProtocol protocol, const std::string& serverName) {
    switch (protocol) {
        case TProtocol::TCP:
            return serverName + ":service_mgr";
        case TProtocol::SPX:
            return serverName + "@service_mgr";
        case TProtocol::NamedPipe:
            return "\\\\" + serverName + "\\service_mgr";
        case TProtocol::Local:
            // The bare "service_mgr" would make this platform's client run an
            // embedded engine inside our own process, without the server and
            // without any credential check. The local server is named instead.
            return "localhost:service_mgr";
    }
    return "localhost:service_mgr";
}

std::string BuildAttachBlock(const TStrings& params) {
    std::string block{kSpbVersion, kSpbCurrentVersion};
    for (const std::string& line : params.Lines()) {
        const std::string lineName = TStrings::NameOf(line);
        if (Trim(lineName).empty())
            continue;
        std::string name = LowerAscii(lineName);
        const std::string value = TStrings::ValueOf(line);
        if (name.rfind("isc_spb_", 0) == 0)
            name.erase(0, 8);

        const SpbParameter* found = nullptr;
        for (const SpbParameter& p : kSpbParameters) {
            if (name == p.name) {
                found = &p;
                break;
            }
        }
        if (!found)
            RaiseClientError(SpbConstantUnknown);
        if (!found->accepted)
            RaiseClientError(SpbConstantNotSupported);
        if (value.size() > kMaxSpbValue)
            throw EDatabaseError(Format("Service parameter %s is %d bytes long; at most %d fit",
                                        {found->name, value.size(), kMaxSpbValue}));
        block += static_cast<char>(found->item);
        block += static_cast<char>(value.size());
        block += value;
    }
    // The attach passes the block's length in 16 bits; a longer block would
    // reach the server cut short, perhaps in the middle of a password.
    if (block.size() > kMaxBlockLength)
        throw EDatabaseError(
            Format("Service parameter block of %d bytes is too long", {block.size()}));
    return block;
}

// ---- TpFIBCustomService --------------------------------------------------

TpFIBCustomService::TpFIBCustomService(TComponent* owner)
    : TComponent(owner), libraryName_(DefaultLibraryName()) {
    params_.OnChanging = [this] { RequireDetached(); };
    params_.OnChange = [this] { paramsDirty_ = true; };
}

TpFIBCustomService::~TpFIBCustomService() {
    if (libraryBinding_ && Active()) {
        // A destructor cannot report a failed detach; the handle is gone either way.
        try {
            Detach();
        } catch (const std::exception&) {
            serviceHandle_ = 0;
        }
    }
    params_.OnChanging = nullptr;
    params_.OnChange = nullptr;
}

void TpFIBCustomService::SetActive(bool value) {
    if (IsLoading()) {
        activeAtLoad_ = value;
        return;
    }
    if (value == Active())
        return;
    if (value)
        Attach();
    else
        Detach();
}

void TpFIBCustomService::SetServerName(const std::string& value) {
    if (value == serverName_)
        return;
    RequireDetached();
    serverName_ = value;
}

void TpFIBCustomService::SetProtocol(TProtocol value) {
    if (value != protocol_) {
        RequireDetached();
        protocol_ = value;
    }
    if (value == TProtocol::Local)
        serverName_.clear();
}

void TpFIBCustomService::SetLibraryName(const std::string& value) {
    RequireDetached();
    if (value == libraryName_)
        return;
    libraryName_ = value;
    libraryBinding_.reset();
}

bool TpFIBCustomService::IsLibraryNameStored() const {
    return libraryName_ != DefaultLibraryName();
}

void TpFIBCustomService::SetSQLLogger(ISQLLogger* logger) {
    if (sqlLoggerComponent_) {
        // Both sides forget the link, or the old logger would tell a freed
        // service of its end.
        RemoveFreeNotification(sqlLoggerComponent_);
        sqlLoggerComponent_->RemoveFreeNotification(this);
    }
    sqlLogger_ = logger;
    // Kept apart from the logger: by the time a component's removal notice
    // arrives, its logger side is already gone.
    sqlLoggerComponent_ = logger ? logger->LoggerObject() : nullptr;
    if (sqlLoggerComponent_)
        FreeNotification(sqlLoggerComponent_);
}

void TpFIBCustomService::ComponentRemoved(TComponent* component) {
    if (component && component == sqlLoggerComponent_) {
        sqlLogger_ = nullptr;
        sqlLoggerComponent_ = nullptr;
    }
    TComponent::ComponentRemoved(component);
}

void TpFIBCustomService::AfterLoad() {
    TComponent::AfterLoad();
    if (!activeAtLoad_ || Active())
        return;
    try {
        Attach();
    } catch (const std::exception&) {
        // At run time a stored connection that cannot be made is not an error
        // yet: the first operation that needs it tries again.
        if (IsDesigning())
            throw;
    }
}

void TpFIBCustomService::RequireAttached() {
    if (activeAtLoad_ && !Active())
        AfterLoad();
    if (serviceHandle_ == 0)
        RaiseClientError(ServiceNotAttached);
}

void TpFIBCustomService::RequireDetached() const {
    if (serviceHandle_ != 0)
        RaiseClientError(ServiceAttached);
}

void TpFIBCustomService::EnsureLibrary() {
    if (!libraryBinding_)
        libraryBinding_ = FindOrLoadClientLibrary(libraryName_);
}

FibStatusWord TpFIBCustomService::AfterClientCall(FibStatusWord status) {
    platform::ResetFpuToDefault();
    return status;
}

void TpFIBCustomService::FailClientCall() {
    serviceHandle_ = 0;
    RaiseServerError(libraryBinding_, this);
}

void TpFIBCustomService::Traced(void (TFIBSQLMonitorHook::*event)(TComponent*),
                                const char* operation) {
    if (TFIBSQLMonitorHook* monitor = TraceMonitor())
        (monitor->*event)(this);
    if (sqlLogger_)
        sqlLogger_->LogOperation(Name(), operation, 0, 5);
}

bool TpFIBCustomService::AskLogin() {
    if (onLogin_) {
        TStrings loginParams(params_);
        onLogin_(this, loginParams);
        params_.Assign(loginParams);
        return true;
    }
    const TLoginPromptProc prompt = LoginPromptProc();
    if (!prompt)
        return false;
    const char* const names[3] = {"user_name", "password", "sql_role_name"};
    int lines[3];
    std::string values[3];
    for (int i = 0; i < 3; ++i) {
        lines[i] = FindParamLine(params_, names[i]);
        if (lines[i] >= 0)
            values[i] = TStrings::ValueOf(params_[lines[i]]);
    }
    const bool confirmed = prompt(serverName_, values[0], values[1], values[2]);
    if (confirmed) {
        for (int i = 0; i < 3; ++i) {
            std::string line = std::string(names[i]) + "=" + values[i];
            if (lines[i] >= 0)
                params_.Put(lines[i], std::move(line));
            else
                params_.Add(std::move(line));
        }
    }
    return confirmed;
}

void TpFIBCustomService::Attach() {
    RequireDetached();
    if (serverName_.empty() && protocol_ != TProtocol::Local)
        RaiseClientError(ServerNameMissing);
    if (loginPrompt_ && !AskLogin())
        RaiseClientError(OperationCancelled);
    if (paramsDirty_) {
        // Built aside: a block that failed half-way is never kept or sent.
        std::string block = BuildAttachBlock(params_);
        attachBlock_ = std::move(block);
        paramsDirty_ = false;
    }
    const std::string serviceName = ServiceManagerName(protocol_, serverName_);
    EnsureLibrary();

    const FibStatusWord status = AfterClientCall(libraryBinding_->isc_service_attach(
        ThreadStatusVector(), static_cast<unsigned short>(serviceName.size()), serviceName.c_str(),
        &serviceHandle_, static_cast<unsigned short>(attachBlock_.size()), attachBlock_.data()));
    if (status > 0)
        FailClientCall();

    if (onAttach_)
        onAttach_(this);
    Traced(&TFIBSQLMonitorHook::ServiceAttach, "ServiceAttach");
}

void TpFIBCustomService::Detach() {
    RequireAttached();
    const FibStatusWord status =
        AfterClientCall(libraryBinding_->isc_service_detach(ThreadStatusVector(), &serviceHandle_));
    serviceHandle_ = 0;
    if (status > 0)
        FailClientCall();
    Traced(&TFIBSQLMonitorHook::ServiceDetach, "ServiceDetach");
}

void TpFIBCustomService::SetBufferSize(std::int32_t value) {
    if (value == bufferSize_)
        return;
    if (value < kMinBufferSize || value > kMaxBufferSize)
        throw EDatabaseError(Format("BufferSize %d is out of range (%d to %d)",
                                    {value, kMinBufferSize, kMaxBufferSize}));
    bufferSize_ = value;
    if (responseBuffer_)
        responseBuffer_.reset(new char[static_cast<std::size_t>(bufferSize_)]());
}

void TpFIBCustomService::ServiceQuery(const std::string& sendItems) {
    // The request serves this one call, whatever its outcome.
    const std::string request = std::exchange(queryBlock_, std::string());
    if (request.empty())
        RaiseClientError(QueryParamsInvalid);
    if (!responseBuffer_)
        responseBuffer_.reset(new char[static_cast<std::size_t>(bufferSize_)]());

    EnsureLibrary();
    const FibStatusWord status = AfterClientCall(libraryBinding_->isc_service_query(
        ThreadStatusVector(), &serviceHandle_, nullptr,
        static_cast<unsigned short>(sendItems.size()),
        sendItems.empty() ? nullptr : sendItems.data(), static_cast<unsigned short>(request.size()),
        request.data(), static_cast<unsigned short>(bufferSize_), responseBuffer_.get()));
    if (status > 0)
        FailClientCall();
    Traced(&TFIBSQLMonitorHook::ServiceQuery, "ServiceQuery");
}

std::int32_t TpFIBCustomService::ResponseInteger(int offset, int length) {
    if (!responseBuffer_ || offset < 0 || offset + length > bufferSize_)
        RaiseClientError(UnexpectedOutputValue);
    EnsureLibrary();
    const ISC_LONG value = libraryBinding_->isc_vax_integer(responseBuffer_.get() + offset,
                                                            static_cast<short>(length));
    // Even this call may leave the library's floating-point settings behind.
    return static_cast<std::int32_t>(AfterClientCall(value));
}

std::int32_t TpFIBCustomService::ReadOutputInteger(int& offset) {
    const std::int32_t value = ResponseInteger(offset, 4);
    offset += 4;
    return value;
}

// ---- TpFIBControlService -------------------------------------------------

TpFIBControlService::TpFIBControlService(TComponent* owner) : TpFIBCustomService(owner) {}

void TpFIBControlService::AddStartParam(const std::string& text, std::uint8_t item) {
    if (text.empty())
        return;
    if (text.size() > 0xFFFF)
        throw EDatabaseError(
            Format("Service start parameter of %d bytes is too long", {text.size()}));
    startBlock_ += static_cast<char>(item);
    startBlock_ += static_cast<char>(text.size() & 0xFF);
    startBlock_ += static_cast<char>((text.size() >> 8) & 0xFF);
    startBlock_ += text;
}

void TpFIBControlService::AddStartParam(std::int32_t value, std::uint8_t item) {
    AppendInteger(startBlock_, item, value);
}

void TpFIBControlService::ServiceStart() {
    RequireAttached();
    try {
        BuildStartParams();
    } catch (...) {
        // Whatever the build got as far as must never be sent later.
        startBlock_.clear();
        throw;
    }
    SendStart();
}

void TpFIBControlService::SendStart() {
    // The block serves this one call, whatever its outcome.
    const std::string block = std::exchange(startBlock_, std::string());
    if (block.empty())
        RaiseClientError(StartParamsInvalid);
    if (block.size() > kMaxBlockLength)
        throw EDatabaseError(Format("Service start block of %d bytes is too long", {block.size()}));

    EnsureLibrary();
    const FibStatusWord status = AfterClientCall(libraryBinding_->isc_service_start(
        ThreadStatusVector(), &serviceHandle_, nullptr, static_cast<unsigned short>(block.size()),
        block.data()));
    if (status > 0)
        FailClientCall();
    Traced(&TFIBSQLMonitorHook::ServiceStart, "ServiceStart");
}

bool TpFIBControlService::IsRunning() {
    queryBlock_.assign(1, static_cast<char>(kInfoSvcRunning));
    ServiceQuery();
    if (static_cast<std::uint8_t>(responseBuffer_[0]) != kInfoSvcRunning)
        RaiseClientError(UnexpectedOutputValue);
    int offset = 1;
    return ReadOutputInteger(offset) == 1;
}

// ---- TpFIBControlAndQueryService -----------------------------------------

TpFIBControlAndQueryService::TpFIBControlAndQueryService(TComponent* owner)
    : TpFIBControlService(owner) {}

void TpFIBControlAndQueryService::SelectAction(std::int32_t action) {
    endOfOutput_ = false;
    pendingAction_ = action;
}

void TpFIBControlAndQueryService::ServiceStart() {
    TpFIBControlService::ServiceStart();
    if (!onTextNotify_)
        return;
    while (!endOfOutput_) {
        const std::string line = NextOutputLine();
        onTextNotify_(this, line);
    }
}

std::string TpFIBControlAndQueryService::NextOutputLine() {
    if (endOfOutput_)
        return std::string();
    if (pendingAction_ == 0)
        RaiseClientError(QueryParamsInvalid);
    queryBlock_.assign(1, static_cast<char>(kInfoSvcLine));
    ServiceQuery();
    const char* response = responseBuffer_.get();
    if (static_cast<std::uint8_t>(response[0]) != kInfoSvcLine)
        RaiseClientError(UnexpectedOutputValue);
    // The length is unsigned on the wire; the end byte must lie inside the buffer.
    const int length = ResponseInteger(1, 2) & 0xFFFF;
    if (3 + length >= BufferSize())
        RaiseClientError(UnexpectedOutputValue);
    if (static_cast<std::uint8_t>(response[3 + length]) != kInfoEnd)
        RaiseClientError(UnexpectedOutputValue);
    if (length == 0) {
        endOfOutput_ = true;
        return std::string();
    }
    endOfOutput_ = false;
    responseBuffer_[static_cast<std::size_t>(3 + length)] = '\0';
    return std::string(response + 3, ::strnlen(response + 3, static_cast<std::size_t>(length)));
}

std::string TpFIBControlAndQueryService::ReadOutput(std::int32_t timeoutSeconds) {
    if (endOfOutput_)
        return std::string();
    if (pendingAction_ == 0)
        RaiseClientError(QueryParamsInvalid);
    // The time limit travels as an item with a two-byte length of its own.
    std::string send{static_cast<char>(kInfoSvcTimeout), 4, 0};
    const auto seconds = static_cast<std::uint32_t>(timeoutSeconds);
    for (int shift = 0; shift < 32; shift += 8)
        send += static_cast<char>((seconds >> shift) & 0xFF);
    queryBlock_.assign(1, static_cast<char>(kInfoSvcToEof));
    ServiceQuery(send);
    const char* response = responseBuffer_.get();
    if (static_cast<std::uint8_t>(response[0]) != kInfoSvcToEof)
        RaiseClientError(UnexpectedOutputValue);
    const int length = ResponseInteger(1, 2) & 0xFFFF;
    if (3 + length >= BufferSize())
        RaiseClientError(UnexpectedOutputValue);
    // Behind the text: the end, or a mark that more is to come (time-out,
    // nothing ready yet, or more than the buffer held).
    switch (static_cast<std::uint8_t>(response[3 + length])) {
        case kInfoEnd:
            if (length == 0)
                endOfOutput_ = true;
            break;
        case kInfoSvcTimeout:
        case isc_info_data_not_ready:
        case isc_info_truncated:
            break;
        default:
            RaiseClientError(UnexpectedOutputValue);
    }
    return std::string(response + 3, static_cast<std::size_t>(length));
}

// ---- TpFIBRestoreService -------------------------------------------------

TpFIBRestoreService::TpFIBRestoreService(TComponent* owner) : TpFIBBackupRestoreService(owner) {
    options_.Include(TRestoreOption::CreateNewDB);
}

void TpFIBRestoreService::BuildStartParams() {
    std::int32_t optionsWord = 0;
    for (int m = 0; m <= static_cast<int>(TRestoreOption::UseAllSpace); ++m)
        if (options_.Contains(static_cast<TRestoreOption>(m)))
            optionsWord += 0x0100 << m;

    SelectAction(kActionRestore);
    startBlock_.assign(1, static_cast<char>(kActionRestore));
    AddStartParam(optionsWord, kSpbOptions);
    if (Verbose())
        startBlock_ += static_cast<char>(kSpbVerbose);
    if (pageSize_ > 0)
        AddStartParam(pageSize_, kSpbResPageSize);
    if (pageBuffers_ > 0)
        AddStartParam(pageBuffers_, kSpbResBuffers);

    auto addFiles = [this](const TStrings& files, std::uint8_t fileItem, std::uint8_t lengthItem) {
        for (const std::string& line : files.Lines()) {
            if (Trim(line).empty())
                continue;
            const std::size_t eq = line.find('=');
            if (eq == std::string::npos) {
                AddStartParam(line, fileItem);
                continue;
            }
            AddStartParam(line.substr(0, eq), fileItem);
            AddStartParam(StrToInt(line.substr(eq + 1)), lengthItem);
        }
    };
    addFiles(backupFile_, kSpbBkpFile, kSpbBkpLength);
    addFiles(databaseName_, kSpbDbName, kSpbResLength);
}
