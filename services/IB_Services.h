#pragma once
// The service components: a connection to the database server's services
// manager, the starting and following of a service action, and the restore
// action. All calls run on the caller's thread and block until the server
// answers. The window includes this header, so no client-library type
// appears here.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Component.h"
#include "core/Strings.h"
#include "services/ParameterBlock.h"
#include "services/ServiceAnswer.h"
#include "services/fib.h"

class IIBClientLibrary;
class TFIBSQLMonitorHook;
class TpFIBCustomService;

enum class TProtocol : std::uint8_t { TCP = 0, SPX = 1, NamedPipe = 2, Local = 3 };

using TNotifyEvent = std::function<void(TComponent* sender)>;
// The handler gets a copy of the Params lines and may change them.
using TLoginEvent = std::function<void(TpFIBCustomService* database, TStrings& loginParams)>;
using TServiceGetTextNotify = std::function<void(TComponent* sender, const std::string& text)>;

// The process-wide login prompt: given the server name and, in and out, the
// user name, password and role name; true when the user confirmed. Empty
// until a login dialog registers itself.
using TLoginPromptProc = std::function<bool(const std::string& serverName, std::string& userName,
                                            std::string& password, std::string& roleName)>;
void SetLoginPromptProc(TLoginPromptProc proc);
TLoginPromptProc LoginPromptProc();
void ResetLoginPromptProc();

// Something that wants to hear of every successful service operation.
class ISQLLogger {
  public:
    virtual ~ISQLLogger() = default;
    // The component that implements the logger, or nullptr when it is no
    // component (then its owner keeps it alive while a service holds it).
    virtual TComponent* LoggerObject() = 0;
    virtual void LogOperation(const std::string& componentName, const std::string& operation,
                              int first, int second) = 0;
};

// Name of the services manager for a protocol and server name.
std::string ServiceManagerName(TProtocol protocol, const std::string& serverName);

// The service parameter block of an attach, built from name=value lines.
// Raises client error 73 for a parameter it does not know, and 72 for one it
// cannot send: a parameter other than user name, password and role name, a
// value over 255 bytes, or a block over 65535 bytes. With `utf8Names` the
// block ends with the item that declares every text of the connection UTF-8.
std::string BuildAttachBlock(const TStrings& params, bool utf8Names = false);

// The major version in a server version text such as
// "LI-V3.0.11.33703 Firebird 3.0" (3); 0 when the text holds none.
int ServerMajorVersion(std::string_view versionText);

// What the operations raise, besides what is said at each:
// - EFIBClientError with the client error code for misuse the services
//   client detects: 65 (not attached), 66 (attached: any change of the
//   connection settings or Params, a second attach), 67, 7, 72, 73 (attach),
//   68, 69, 70 (query and start). The limits of the Services API blocks are
//   refused the same way, under the code of the block they break: 72 for a
//   Params value over 255 bytes or an attach block over 65535, 69 for a start
//   block or file name over 65535, 68 for a BufferSize outside 5 to 65535
//   and for input the server did not ask for.
//   Catching EFIBError takes every refusal and every server error.
// - EFIBInterBaseError when the server refuses a call (the service counts
//   as detached afterwards).
// - Exception or EOSError from the client library binding (cannot load the
//   library, an entry point is missing), at the first call that needs it.
class TpFIBCustomService : public TComponent {
  public:
    explicit TpFIBCustomService(TComponent* owner = nullptr);
    ~TpFIBCustomService() override;

    bool Active() const { return serviceHandle_ != 0; }
    // Attach or Detach when the value changes; raises what they raise.
    void SetActive(bool value);

    const std::string& ServerName() const { return serverName_; }
    // 66 while attached, unless the value is equal.
    void SetServerName(const std::string& value);
    TProtocol Protocol() const { return protocol_; }
    // 66 while attached, unless the value is equal.
    void SetProtocol(TProtocol value);
    // Every change of the list, also inside an update bracket, raises 66
    // while attached and leaves the lines as they were.
    TStrings& Params() { return params_; }
    const TStrings& Params() const { return params_; }
    void SetParams(const TStrings& value) { params_.Assign(value); }
    bool LoginPrompt() const { return loginPrompt_; }
    void SetLoginPrompt(bool value) { loginPrompt_ = value; }
    const TNotifyEvent& OnAttach() const { return onAttach_; }
    void SetOnAttach(TNotifyEvent value) { onAttach_ = std::move(value); }
    const TLoginEvent& OnLogin() const { return onLogin_; }
    void SetOnLogin(TLoginEvent value) { onLogin_ = std::move(value); }
    const std::string& LibraryName() const { return libraryName_; }
    // 66 while attached, even for an equal value.
    void SetLibraryName(const std::string& value);
    // A stored description holds LibraryName only when it differs from the
    // process default (case-sensitively).
    bool IsLibraryNameStored() const;
    ISQLLogger* SQLLogger() const { return sqlLogger_; }
    void SetSQLLogger(ISQLLogger* logger);
    // Declares every text of the connection (names, paths, patterns) UTF-8.
    // The client library then hands the start block on as it is, instead of
    // converting its texts from the process locale, and so also passes items
    // it does not know itself to a newer server. Off by default; 66 while
    // attached.
    bool Utf8Names() const { return utf8Names_; }
    void SetUtf8Names(bool value);

    // 66, 67, 7, 72, 73, the binding's errors, server errors.
    void Attach();
    // 65, server errors (the handle is dropped all the same).
    void Detach();

    // The server's version text, such as "LI-V3.0.11.33703 Firebird 3.0"
    // (see ServerMajorVersion). 65, 70, server errors.
    std::string ServerVersion();

  protected:
    void AfterLoad() override;
    void ComponentRemoved(TComponent* component) override;

    // Retries a load-time attach that failed, then insists on a connection.
    void RequireAttached();
    void RequireDetached() const;
    void EnsureLibrary();

    // The request of the next query: one information item.
    void RequestQueryItem(std::uint8_t item);
    const std::string& QueryBlock() const { return queryBlock_; }
    // Sends QueryBlock, with `sendItems` (such as a time limit) ahead of it;
    // the answer is left in the response buffer.
    void ServiceQuery(const std::string& sendItems = {});
    // One query of the request items `items`, its answer read whole (70 for
    // one that does not read as an answer to them).
    TServiceAnswer QueryItems(std::string_view items, const std::string& sendItems = {});
    std::int32_t BufferSize() const { return bufferSize_; }
    // 68 outside 5 to 65535: the size travels in 16 bits, and the running
    // answer needs 5 bytes.
    void SetBufferSize(std::int32_t value);

    // Sends a start block (not empty) to the services manager.
    void StartService(const std::string& block);

  private:
    bool AskLogin();
    // Every client-library call ends here: the library may leave its own
    // floating-point settings behind, and a failure drops the handle and
    // raises the server's account of it.
    void CheckStatus(FibStatusWord status);
    void Traced(void (TFIBSQLMonitorHook::*event)(TComponent*), const char* operation);

    std::string serverName_;
    TProtocol protocol_ = TProtocol::Local;
    TStrings params_;
    bool loginPrompt_ = true;
    TNotifyEvent onAttach_;
    TLoginEvent onLogin_;
    std::string libraryName_;
    bool utf8Names_ = false;
    ISQLLogger* sqlLogger_ = nullptr;
    TComponent* sqlLoggerComponent_ = nullptr;

    std::shared_ptr<IIBClientLibrary> libraryBinding_;
    std::uint32_t serviceHandle_ = 0;
    std::string attachBlock_;
    bool paramsDirty_ = true;
    bool activeAtLoad_ = false;
    std::string queryBlock_;
    // Empty until the first query; then exactly BufferSize bytes.
    std::vector<char> responseBuffer_;
    std::int32_t bufferSize_ = 32000;
};

class TpFIBControlService : public TpFIBCustomService {
  public:
    explicit TpFIBControlService(TComponent* owner = nullptr);

    virtual void BuildStartParams() {}
    // 65, then whatever the build raises, then 69 and server errors.
    virtual void ServiceStart();
    // True while the started action still runs on the server. 68, 70,
    // server errors.
    bool IsRunning();

  protected:
    // Starts a new start block with the action code, dropping what it held.
    void StartAction(std::uint8_t action);
    void AddStartFlag(std::uint8_t item);
    // An empty text adds nothing, not even the item code.
    void AddStartParam(const std::string& text, std::uint8_t item);
    void AddStartParam(std::int32_t value, std::uint8_t item);
    // Item code and one value byte.
    void AddStartByte(std::uint8_t item, std::uint8_t value);
    void SendStart();

  private:
    TParameterBlock startBlock_{StartParamsInvalid};
};

// One turn of an action that reads its input from the client: what the
// server wrote meanwhile and how much input it takes next.
struct TServiceExchange {
    std::string output;
    // At most this many bytes go with the next turn; 0: none now.
    std::uint32_t inputWanted = 0;
    // The action has ended and written all of its output.
    bool endOfOutput = false;
};

class TpFIBControlAndQueryService : public TpFIBControlService {
  public:
    // The most input one turn carries: the send block travels with a 16-bit
    // length, beside the time limit. A server that asks for more is told this
    // much in TServiceExchange::inputWanted.
    static constexpr std::uint32_t kMaxExchangeInput = TParameterBlock::kMaxLength - 7 - 3;

    explicit TpFIBControlAndQueryService(TComponent* owner = nullptr);

    void ServiceStart() override;
    // The next line of the action's output; the empty line ends it. 68
    // before any action was started, 70, server errors.
    std::string NextOutputLine();
    bool EndOfOutput() const { return endOfOutput_; }

    // Whatever output the running action has written since the last read,
    // as much as the buffer holds. The query waits in the server, up to
    // `timeoutSeconds`, for something to arrive, so a caller that waits for
    // the action's end this way costs neither side anything meanwhile. An
    // empty text after a time-out only means nothing arrived yet; the end of
    // the output sets EndOfOutput. Raises as NextOutputLine.
    std::string ReadOutput(std::int32_t timeoutSeconds);

    // One turn of an action started to read its input from the client (a
    // restore of the backup file "stdin"): hands the server `input`, then
    // returns its output and how much input it takes next. `input` nullptr
    // sends nothing; an empty text ends the input, and ending it before the
    // server has read all it needs abandons the action. Input goes only when
    // the last turn asked for it (the first turn sends none), at most
    // inputWanted bytes: anything else is refused with 68 before anything is
    // sent. While the server waits for input the answer comes at once; else
    // the server waits up to `timeoutSeconds` (no limit when 0 or less) for
    // output. After the end of the output, returns the end without a query.
    // Also 68 before any action was started, 70, server errors (the action's
    // own failure among them).
    TServiceExchange Exchange(const std::string* input, std::int32_t timeoutSeconds);

    using TpFIBCustomService::BufferSize;
    using TpFIBCustomService::SetBufferSize;

  protected:
    void SelectAction(std::int32_t action);

    TServiceGetTextNotify onTextNotify_;

  private:
    bool endOfOutput_ = false;
    std::int32_t pendingAction_ = 0;
    std::uint32_t inputWanted_ = 0;
};

class TpFIBBackupRestoreService : public TpFIBControlAndQueryService {
  public:
    using TpFIBControlAndQueryService::TpFIBControlAndQueryService;

    bool Verbose() const { return verbose_; }
    void SetVerbose(bool value) { verbose_ = value; }
    const TServiceGetTextNotify& OnTextNotify() const { return onTextNotify_; }
    void SetOnTextNotify(TServiceGetTextNotify value) { onTextNotify_ = std::move(value); }

  private:
    bool verbose_ = false;
};

enum class TRestoreOption : std::uint8_t {
    DeactivateIndexes,
    NoShadow,
    NoValidityCheck,
    OneRelationAtATime,
    Replace,
    CreateNewDB,
    UseAllSpace,
    MetadataOnly,
};

// What the restored database's access mode or replica mode becomes; the
// backup's own unless set.
enum class TRestoreAccessMode : std::uint8_t { AsBackedUp, ReadWrite, ReadOnly };
enum class TReplicaMode : std::uint8_t { AsBackedUp, None, ReadOnly, ReadWrite };

// A set of restore options, one bit per member.
class TRestoreOptions {
  public:
    constexpr TRestoreOptions() = default;
    constexpr TRestoreOptions(std::initializer_list<TRestoreOption> members) {
        for (TRestoreOption m : members) Include(m);
    }
    constexpr bool Contains(TRestoreOption m) const { return (bits_ & Bit(m)) != 0; }
    constexpr void Include(TRestoreOption m) { bits_ = static_cast<std::uint8_t>(bits_ | Bit(m)); }
    constexpr void Exclude(TRestoreOption m) { bits_ = static_cast<std::uint8_t>(bits_ & ~Bit(m)); }
    constexpr std::uint8_t Bits() const { return bits_; }
    constexpr bool operator==(const TRestoreOptions&) const = default;

  private:
    static_assert(static_cast<unsigned>(TRestoreOption::MetadataOnly) < 8,
                  "one byte holds the set");
    static constexpr std::uint8_t Bit(TRestoreOption m) {
        return static_cast<std::uint8_t>(1u << static_cast<unsigned>(m));
    }
    std::uint8_t bits_ = 0;
};

class TpFIBRestoreService : public TpFIBBackupRestoreService {
  public:
    // The backup file name that makes the server read the backup from the
    // input the client feeds it (Exchange).
    static constexpr const char* kBackupFromInput = "stdin";

    explicit TpFIBRestoreService(TComponent* owner = nullptr);

    TStrings& DatabaseName() { return databaseName_; }
    void SetDatabaseName(const TStrings& value) { databaseName_.Assign(value); }
    TStrings& BackupFile() { return backupFile_; }
    void SetBackupFile(const TStrings& value) { backupFile_.Assign(value); }
    std::int32_t PageSize() const { return pageSize_; }
    void SetPageSize(std::int32_t value) { pageSize_ = value; }
    std::int32_t PageBuffers() const { return pageBuffers_; }
    void SetPageBuffers(std::int32_t value) { pageBuffers_ = value; }
    TRestoreOptions Options() const { return options_; }
    void SetOptions(TRestoreOptions value) { options_ = value; }
    // A stored description holds Options only when they differ from the default.
    bool IsOptionsStored() const {
        return !(options_ == TRestoreOptions{TRestoreOption::CreateNewDB});
    }
    TRestoreAccessMode AccessMode() const { return accessMode_; }
    void SetAccessMode(TRestoreAccessMode value) { accessMode_ = value; }
    // The character set that text stored as malformed UNICODE_FSS is read
    // in, for the tables' data and for the metadata; empty: no repair.
    const std::string& FixFssData() const { return fixFssData_; }
    void SetFixFssData(std::string value) { fixFssData_ = std::move(value); }
    const std::string& FixFssMetadata() const { return fixFssMetadata_; }
    void SetFixFssMetadata(std::string value) { fixFssMetadata_ = std::move(value); }
    // A pattern the server matches (as SIMILAR TO) against table names: the
    // data of the tables it matches is left out; empty: none.
    const std::string& SkipData() const { return skipData_; }
    void SetSkipData(std::string value) { skipData_ = std::move(value); }
    // Only the tables the pattern matches get their data; empty: all. This
    // and ReplicaMode need a Firebird 4 server, and a Firebird 3 client
    // library passes them only with Utf8Names.
    const std::string& IncludeData() const { return includeData_; }
    void SetIncludeData(std::string value) { includeData_ = std::move(value); }
    TReplicaMode ReplicaMode() const { return replicaMode_; }
    void SetReplicaMode(TReplicaMode value) { replicaMode_ = value; }

    // Raises EConvertError ("'%s' is not a valid integer value") for a file
    // length after "=" that is no decimal integer, and 69 for a name or a
    // block too long to send; ServiceStart then sends nothing.
    void BuildStartParams() override;

  private:
    TStrings databaseName_;
    TStrings backupFile_;
    std::int32_t pageSize_ = 0;
    std::int32_t pageBuffers_ = 0;
    TRestoreOptions options_;
    TRestoreAccessMode accessMode_ = TRestoreAccessMode::AsBackedUp;
    std::string fixFssData_;
    std::string fixFssMetadata_;
    std::string skipData_;
    std::string includeData_;
    TReplicaMode replicaMode_ = TReplicaMode::AsBackedUp;
};
