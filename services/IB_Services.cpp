#include "services/IB_Services.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>
#include <mutex>
#include <type_traits>
#include <utility>

#include "core/Ascii.h"
#include "core/Exceptions.h"
#include "core/Format.h"
#include "platform/FloatingPoint.h"
#include "services/FIBSQLMonitor.h"
#include "services/IB_Intf.h"

static_assert(std::is_same_v<isc_svc_handle, std::uint32_t>, "service handles are 32-bit here");

namespace {

constexpr std::int32_t kMinBufferSize = 5;  // the running answer: item and a 4-byte integer
constexpr std::int32_t kMaxBufferSize = 65535;

// The parameters a Params line may name, in search order; only user name,
// password and role name go into the attach block.
struct SpbParameter {
    const char* name;
    std::uint8_t item;
    bool accepted;
};
constexpr SpbParameter kSpbParameters[] = {
    {"user_name", isc_spb_user_name, true},
    {"sys_user_name", isc_spb_sys_user_name, false},
    {"sys_user_name_enc", isc_spb_sys_user_name_enc, false},
    {"password", isc_spb_password, true},
    {"password_enc", isc_spb_password_enc, false},
    {"command_line", isc_spb_command_line, false},
    {"db_name", isc_spb_dbname, false},
    {"verbose", isc_spb_verbose, false},
    {"options", isc_spb_options, false},
    {"connect_timeout", isc_spb_connect_timeout, false},
    {"dummy_packet_interval", isc_spb_dummy_packet_interval, false},
    {"sql_role_name", isc_spb_sql_role_name, true},
};

// The bit each restore option sets in the options word.
struct RestoreOptionBit {
    TRestoreOption member;
    std::int32_t bit;
};
constexpr RestoreOptionBit kRestoreOptionBits[] = {
    {TRestoreOption::DeactivateIndexes, isc_spb_res_deactivate_idx},
    {TRestoreOption::NoShadow, isc_spb_res_no_shadow},
    {TRestoreOption::NoValidityCheck, isc_spb_res_no_validity},
    {TRestoreOption::OneRelationAtATime, isc_spb_res_one_at_a_time},
    {TRestoreOption::Replace, isc_spb_res_replace},
    {TRestoreOption::CreateNewDB, isc_spb_res_create},
    {TRestoreOption::UseAllSpace, isc_spb_res_use_all_space},
    {TRestoreOption::MetadataOnly, isc_spb_res_metadata_only},
};

// Restore items that came with Firebird 4, which the Firebird 3 header we
// build with lacks; the values are those of Firebird 4's own header.
constexpr std::uint8_t kResIncludeData = 19;      // isc_spb_res_include_data
constexpr std::uint8_t kResReplicaMode = 20;      // isc_spb_res_replica_mode
constexpr std::uint8_t kResReplicaNone = 0;       // isc_spb_res_rm_none
constexpr std::uint8_t kResReplicaReadOnly = 1;   // isc_spb_res_rm_readonly
constexpr std::uint8_t kResReplicaReadWrite = 2;  // isc_spb_res_rm_readwrite
#ifdef isc_spb_res_include_data
static_assert(isc_spb_res_include_data == kResIncludeData);
static_assert(isc_spb_res_replica_mode == kResReplicaMode);
static_assert(isc_spb_res_rm_none == kResReplicaNone);
static_assert(isc_spb_res_rm_readonly == kResReplicaReadOnly);
static_assert(isc_spb_res_rm_readwrite == kResReplicaReadWrite);
#endif

// The value byte of the access mode and replica mode items, by the
// property's value; no item for the backup's own mode.
constexpr int kNoItem = -1;
constexpr int kAccessModeBytes[] = {kNoItem, isc_spb_res_am_readwrite, isc_spb_res_am_readonly};
constexpr int kReplicaModeBytes[] = {kNoItem, kResReplicaNone, kResReplicaReadOnly,
                                     kResReplicaReadWrite};
static_assert(std::size(kAccessModeBytes) == static_cast<int>(TRestoreAccessMode::ReadOnly) + 1);
static_assert(std::size(kReplicaModeBytes) == static_cast<int>(TReplicaMode::ReadWrite) + 1);

std::mutex loginPromptLock;
TLoginPromptProc loginPromptProc;

using core::Trim;

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

std::string BuildAttachBlock(const TStrings& params, bool utf8Names) {
    TParameterBlock block(SpbConstantNotSupported);
    block.AddTag(isc_spb_version);
    block.AddTag(isc_spb_current_version);
    for (const std::string& line : params.Lines()) {
        const std::string lineName = TStrings::NameOf(line);
        if (Trim(lineName).empty())
            continue;
        std::string name = core::AsciiLower(lineName);
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
        block.AddShortText(found->item, TStrings::ValueOf(line));
    }
    if (utf8Names)
        block.AddShortText(isc_spb_utf8_filename, {});
    return block.Take();
}

int ServerMajorVersion(std::string_view versionText) {
    // The build part leads: platform, a dash, the build type letter, then
    // major.minor.release.build.
    const std::size_t dash = versionText.find('-');
    if (dash == std::string_view::npos)
        return 0;
    int major = 0;
    std::size_t at = dash + 2;
    for (; at < versionText.size() && at < dash + 6; ++at) {
        const char c = versionText[at];
        if (c < '0' || c > '9')
            break;
        major = major * 10 + (c - '0');
    }
    const bool whole = at > dash + 2 && at < versionText.size() && versionText[at] == '.';
    return whole ? major : 0;
}

// ---- TpFIBCustomService --------------------------------------------------

TpFIBCustomService::TpFIBCustomService(TComponent* owner)
    : TComponent(owner), libraryName_(DefaultLibraryName()) {
    // Marked dirty before the change as well: inside an update bracket the
    // after-change hook waits for the bracket to close, and an attach in
    // between must not send the block of the old lines.
    params_.OnChanging = [this] {
        RequireDetached();
        paramsDirty_ = true;
    };
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

void TpFIBCustomService::SetUtf8Names(bool value) {
    if (value == utf8Names_)
        return;
    RequireDetached();
    utf8Names_ = value;
    paramsDirty_ = true;
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

void TpFIBCustomService::CheckStatus(FibStatusWord status) {
    platform::ResetFpuToDefault();
    if (status > 0) {
        serviceHandle_ = 0;
        RaiseServerError(libraryBinding_, this);
    }
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
        std::string block = BuildAttachBlock(params_, utf8Names_);
        attachBlock_ = std::move(block);
        paramsDirty_ = false;
    }
    const std::string serviceName = ServiceManagerName(protocol_, serverName_);
    EnsureLibrary();

    CheckStatus(libraryBinding_->isc_service_attach(
        ThreadStatusVector(), static_cast<unsigned short>(serviceName.size()), serviceName.c_str(),
        &serviceHandle_, static_cast<unsigned short>(attachBlock_.size()), attachBlock_.data()));

    if (onAttach_)
        onAttach_(this);
    Traced(&TFIBSQLMonitorHook::ServiceAttach, "ServiceAttach");
}

void TpFIBCustomService::Detach() {
    RequireAttached();
    const FibStatusWord status =
        libraryBinding_->isc_service_detach(ThreadStatusVector(), &serviceHandle_);
    serviceHandle_ = 0;
    CheckStatus(status);
    Traced(&TFIBSQLMonitorHook::ServiceDetach, "ServiceDetach");
}

void TpFIBCustomService::SetBufferSize(std::int32_t value) {
    if (value == bufferSize_)
        return;
    if (value < kMinBufferSize || value > kMaxBufferSize)
        RaiseClientError(QueryParamsInvalid);
    bufferSize_ = value;
    if (!responseBuffer_.empty())
        responseBuffer_.assign(static_cast<std::size_t>(bufferSize_), '\0');
}

void TpFIBCustomService::RequestQueryItem(std::uint8_t item) {
    queryBlock_.assign(1, static_cast<char>(item));
}

void TpFIBCustomService::ServiceQuery(const std::string& sendItems) {
    // The request serves this one call, whatever its outcome.
    const std::string request = std::exchange(queryBlock_, std::string());
    if (request.empty())
        RaiseClientError(QueryParamsInvalid);
    if (responseBuffer_.empty())
        responseBuffer_.assign(static_cast<std::size_t>(bufferSize_), '\0');

    EnsureLibrary();
    CheckStatus(libraryBinding_->isc_service_query(
        ThreadStatusVector(), &serviceHandle_, nullptr,
        static_cast<unsigned short>(sendItems.size()),
        sendItems.empty() ? nullptr : sendItems.data(), static_cast<unsigned short>(request.size()),
        request.data(), static_cast<unsigned short>(responseBuffer_.size()),
        responseBuffer_.data()));
    Traced(&TFIBSQLMonitorHook::ServiceQuery, "ServiceQuery");
}

TServiceAnswer TpFIBCustomService::QueryItems(std::string_view items,
                                              const std::string& sendItems) {
    queryBlock_.assign(items);
    ServiceQuery(sendItems);
    return ReadServiceAnswer(std::string_view(responseBuffer_.data(), responseBuffer_.size()),
                             items);
}

std::string TpFIBCustomService::ServerVersion() {
    RequireAttached();
    const char request[] = {static_cast<char>(isc_info_svc_server_version)};
    TServiceAnswer answer = QueryItems(std::string_view(request, 1));
    if (!answer.serverVersion)
        RaiseClientError(UnexpectedOutputValue);
    return std::move(*answer.serverVersion);
}

void TpFIBCustomService::StartService(const std::string& block) {
    EnsureLibrary();
    CheckStatus(libraryBinding_->isc_service_start(ThreadStatusVector(), &serviceHandle_, nullptr,
                                                   static_cast<unsigned short>(block.size()),
                                                   block.data()));
    Traced(&TFIBSQLMonitorHook::ServiceStart, "ServiceStart");
}

// ---- TpFIBControlService -------------------------------------------------

TpFIBControlService::TpFIBControlService(TComponent* owner) : TpFIBCustomService(owner) {}

void TpFIBControlService::StartAction(std::uint8_t action) {
    startBlock_.Clear();
    startBlock_.AddTag(action);
}

void TpFIBControlService::AddStartFlag(std::uint8_t item) {
    startBlock_.AddTag(item);
}

void TpFIBControlService::AddStartParam(const std::string& text, std::uint8_t item) {
    if (!text.empty())
        startBlock_.AddText(item, text);
}

void TpFIBControlService::AddStartParam(std::int32_t value, std::uint8_t item) {
    startBlock_.AddInteger(item, value);
}

void TpFIBControlService::AddStartByte(std::uint8_t item, std::uint8_t value) {
    startBlock_.AddTag(item);
    startBlock_.AddTag(value);
}

void TpFIBControlService::ServiceStart() {
    RequireAttached();
    try {
        BuildStartParams();
    } catch (...) {
        // Whatever the build got as far as must never be sent later.
        startBlock_.Clear();
        throw;
    }
    SendStart();
}

void TpFIBControlService::SendStart() {
    // The block serves this one call, whatever its outcome.
    const std::string block = startBlock_.Take();
    if (block.empty())
        RaiseClientError(StartParamsInvalid);
    StartService(block);
}

bool TpFIBControlService::IsRunning() {
    const char request[] = {static_cast<char>(isc_info_svc_running)};
    const TServiceAnswer answer = QueryItems(std::string_view(request, 1));
    if (!answer.running)
        RaiseClientError(UnexpectedOutputValue);
    return *answer.running == 1;
}

// ---- TpFIBControlAndQueryService -----------------------------------------

TpFIBControlAndQueryService::TpFIBControlAndQueryService(TComponent* owner)
    : TpFIBControlService(owner) {}

void TpFIBControlAndQueryService::SelectAction(std::int32_t action) {
    endOfOutput_ = false;
    pendingAction_ = action;
    inputWanted_ = 0;
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
    const char request[] = {static_cast<char>(isc_info_svc_line)};
    TServiceAnswer answer = QueryItems(std::string_view(request, 1));
    // A line is followed by the end and nothing else.
    if (!answer.output || answer.MoreToCome() || !answer.ended)
        RaiseClientError(UnexpectedOutputValue);
    if (answer.output->empty()) {
        endOfOutput_ = true;
        return std::string();
    }
    endOfOutput_ = false;
    // A zero byte in the text ends the line.
    std::string line = std::move(*answer.output);
    line.resize(::strnlen(line.c_str(), line.size()));
    return line;
}

std::string TpFIBControlAndQueryService::ReadOutput(std::int32_t timeoutSeconds) {
    if (endOfOutput_)
        return std::string();
    if (pendingAction_ == 0)
        RaiseClientError(QueryParamsInvalid);
    TParameterBlock send(QueryParamsInvalid);
    send.AddSizedInteger(isc_info_svc_timeout, timeoutSeconds);
    const char request[] = {static_cast<char>(isc_info_svc_to_eof)};
    TServiceAnswer answer = QueryItems(std::string_view(request, 1), send.Bytes());
    if (!answer.output || !answer.ended)
        RaiseClientError(UnexpectedOutputValue);
    // Only the bare end says the output is over; every mark says more is to
    // come (time-out, nothing ready yet, or more than the buffer held).
    if (answer.output->empty() && !answer.MoreToCome())
        endOfOutput_ = true;
    return std::move(*answer.output);
}

TServiceExchange TpFIBControlAndQueryService::Exchange(const std::string* input,
                                                       std::int32_t timeoutSeconds) {
    if (endOfOutput_)
        return TServiceExchange{.output = {}, .inputWanted = 0, .endOfOutput = true};
    if (pendingAction_ == 0)
        RaiseClientError(QueryParamsInvalid);
    // More than the server asked for would make it fail the whole action.
    if (input && (inputWanted_ == 0 || input->size() > inputWanted_))
        RaiseClientError(QueryParamsInvalid);
    TParameterBlock send(QueryParamsInvalid);
    if (timeoutSeconds > 0)
        send.AddSizedInteger(isc_info_svc_timeout, timeoutSeconds);
    if (input)
        send.AddText(isc_info_svc_line, *input);
    // The input item first: the server fills the buffer with output up to a
    // margin that holds only the marks and the end, and an input request
    // placed behind the output would not fit and be lost.
    const char request[] = {static_cast<char>(isc_info_svc_stdin),
                            static_cast<char>(isc_info_svc_to_eof)};
    inputWanted_ = 0;
    TServiceAnswer answer = QueryItems(std::string_view(request, 2), send.Bytes());
    if (!answer.inputWanted || !answer.output || !answer.ended)
        RaiseClientError(UnexpectedOutputValue);

    TServiceExchange turn;
    turn.output = std::move(*answer.output);
    turn.inputWanted = std::min(*answer.inputWanted, kMaxExchangeInput);
    turn.endOfOutput = turn.output.empty() && !answer.MoreToCome() && turn.inputWanted == 0;
    inputWanted_ = turn.inputWanted;
    endOfOutput_ = turn.endOfOutput;
    return turn;
}

// ---- TpFIBRestoreService -------------------------------------------------

TpFIBRestoreService::TpFIBRestoreService(TComponent* owner) : TpFIBBackupRestoreService(owner) {
    options_.Include(TRestoreOption::CreateNewDB);
}

void TpFIBRestoreService::BuildStartParams() {
    // The text items, by the property that holds the text; an empty one
    // sends nothing.
    struct TextItem {
        std::string TpFIBRestoreService::*text;
        std::uint8_t item;
    };
    static constexpr TextItem kTextItems[] = {
        {&TpFIBRestoreService::fixFssData_, isc_spb_res_fix_fss_data},
        {&TpFIBRestoreService::fixFssMetadata_, isc_spb_res_fix_fss_metadata},
        {&TpFIBRestoreService::skipData_, isc_spb_res_skip_data},
        {&TpFIBRestoreService::includeData_, kResIncludeData},
    };

    std::int32_t optionsWord = 0;
    for (const RestoreOptionBit& option : kRestoreOptionBits)
        if (options_.Contains(option.member))
            optionsWord |= option.bit;

    SelectAction(isc_action_svc_restore);
    StartAction(isc_action_svc_restore);
    AddStartParam(optionsWord, isc_spb_options);
    if (Verbose())
        AddStartFlag(isc_spb_verbose);
    if (pageSize_ > 0)
        AddStartParam(pageSize_, isc_spb_res_page_size);
    if (pageBuffers_ > 0)
        AddStartParam(pageBuffers_, isc_spb_res_buffers);

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
    addFiles(backupFile_, isc_spb_bkp_file, isc_spb_bkp_length);
    addFiles(databaseName_, isc_spb_dbname, isc_spb_res_length);

    for (const TextItem& text : kTextItems) AddStartParam(this->*text.text, text.item);
    auto addByte = [this](std::uint8_t item, int value) {
        if (value != kNoItem)
            AddStartByte(item, static_cast<std::uint8_t>(value));
    };
    addByte(isc_spb_res_access_mode, kAccessModeBytes[static_cast<int>(accessMode_)]);
    addByte(kResReplicaMode, kReplicaModeBytes[static_cast<int>(replicaMode_)]);
}
