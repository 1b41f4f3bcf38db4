#include "services/IB_Services.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "AnswerBuilder.h"
#include "FakeClient.h"
#include "RecordingLogger.h"
#include "TraceIsolation.h"
#include "core/Exceptions.h"
#include "platform/FloatingPoint.h"
#include "services/IB_Intf.h"

namespace {

constexpr long kLoginFailed = 335544472;  // the server's "user name and password" error

template <class F>
int ClientCodeOf(F&& f) {
    try {
        f();
    } catch (const EFIBClientError& e) {
        return e.ClientErrorCode();
    }
    return -1;
}

// Exposes the query routine and its buffer for parsing tests.
class QueryProbe : public TpFIBRestoreService {
  public:
    using TpFIBCustomService::QueryBlock;
    using TpFIBCustomService::RequestQueryItem;
    using TpFIBCustomService::ServiceQuery;
    using TpFIBRestoreService::TpFIBRestoreService;
};

class PlainQueryService : public TpFIBControlAndQueryService {
  public:
    using TpFIBControlAndQueryService::TpFIBControlAndQueryService;
};

// A restore service configured as the tool configures it, over the scripted
// fake client library.
class ServiceOverFake : public ::testing::Test {
  protected:
    void SetUp() override {
        form.SetName("Main_Form");
        service->SetName("pFIBRestoreService1");
        service->SetLibraryName(FAKE_SCRIPTED);
        service->SetLoginPrompt(false);
        service->Params().SetLines({"user_name=SYSDBA", "password=fernstone"});
        service->SetPageSize(4096);
    }
    void TearDown() override { ResetLoginPromptProc(); }

    // Starts the restore and returns the start block the server received.
    std::string StartedBlock() {
        if (!service->Active())
            service->Attach();
        service->ServiceStart();
        return fake.LastStart();
    }

    FakeClient fake{FAKE_SCRIPTED};
    TComponent form{nullptr};
    QueryProbe* service = new QueryProbe(&form);
};

std::string Text(int item, const std::string& text) {
    std::string s{static_cast<char>(item), static_cast<char>(text.size() & 0xFF),
                  static_cast<char>(text.size() >> 8)};
    return s + text;
}

}  // namespace

// ---- the attach block and service names ----------------------------------

TEST(AttachBlock, ToolCredentialsGiveUserAndPasswordItems) {
    TStrings params{"user_name=SYSDBA", "password=fernstone"};
    EXPECT_EQ(BuildAttachBlock(params),
              Bytes({2, 2, 28, 6}) + "SYSDBA" + Bytes({29, 9}) + "fernstone");
}

TEST(AttachBlock, NamesAreLowerCasedAndLoseTheirPrefixButNotTheirBlanks) {
    EXPECT_EQ(BuildAttachBlock(TStrings{"ISC_SPB_USER_NAME=x"}), Bytes({2, 2, 28, 1}) + "x");
    EXPECT_EQ(ClientCodeOf([] { BuildAttachBlock(TStrings{"user_name =x"}); }), 73);
}

TEST(AttachBlock, KnownButUnsendableParametersAndUnknownOnesAreRefused) {
    EXPECT_EQ(ClientCodeOf([] { BuildAttachBlock(TStrings{"password_enc=x"}); }), 72);
    EXPECT_EQ(ClientCodeOf([] { BuildAttachBlock(TStrings{"isc_spb_verbose="}); }), 72);
    EXPECT_EQ(ClientCodeOf([] { BuildAttachBlock(TStrings{"colour=red"}); }), 73);
}

TEST(AttachBlock, LinesWithoutANameAreSkippedAndRepeatsAreKept) {
    TStrings params{"no equals sign", " \t=value",   "",
                    "sql_role_name=", "user_name=a", "user_name=b"};
    EXPECT_EQ(BuildAttachBlock(params), Bytes({2, 2, 60, 0, 28, 1, 'a', 28, 1, 'b'}));
    EXPECT_EQ(BuildAttachBlock(TStrings{}), Bytes({2, 2}));
}

TEST(AttachBlock, ValuesMustFitTheLengthByte) {
    const std::string longest(255, 'p');
    EXPECT_EQ(BuildAttachBlock(TStrings{"password=" + longest}), Bytes({2, 2, 29, 255}) + longest);
    EXPECT_EQ(ClientCodeOf([&] { BuildAttachBlock(TStrings{"password=" + longest + "p"}); }), 72);
    // Nor may the whole block outgrow its 16-bit length.
    TStrings many;
    for (int i = 0; i < 254; ++i) many.Add("user_name=" + longest);
    EXPECT_EQ(BuildAttachBlock(many).size(), 2u + 254 * 257);
    many.Add("user_name=" + longest);  // 65537 bytes
    EXPECT_EQ(ClientCodeOf([&] { BuildAttachBlock(many); }), 72);
}

TEST(ServiceManagerName, FollowsTheProtocolAndNamesTheLocalServerExplicitly) {
    EXPECT_EQ(ServiceManagerName(TProtocol::TCP, "srv"), "srv:service_mgr");
    EXPECT_EQ(ServiceManagerName(TProtocol::SPX, "srv"), "srv@service_mgr");
    EXPECT_EQ(ServiceManagerName(TProtocol::NamedPipe, "srv"), "\\\\srv\\service_mgr");
    EXPECT_EQ(ServiceManagerName(TProtocol::Local, "srv"), "localhost:service_mgr");
    EXPECT_EQ(ServiceManagerName(TProtocol::Local, ""), "localhost:service_mgr");
}

// ---- properties and guards ------------------------------------------------

TEST(ServiceDefaults, NewRestoreServiceHasTheDocumentedSettings) {
    TpFIBRestoreService service;
    EXPECT_FALSE(service.Active());
    EXPECT_EQ(service.ServerName(), "");
    EXPECT_EQ(service.Protocol(), TProtocol::Local);
    EXPECT_TRUE(service.Params().Empty());
    EXPECT_TRUE(service.LoginPrompt());
    EXPECT_EQ(service.LibraryName(), "gds32.dll");
    EXPECT_FALSE(service.IsLibraryNameStored());
    EXPECT_EQ(service.BufferSize(), 32000);
    EXPECT_FALSE(service.Verbose());
    EXPECT_FALSE(service.EndOfOutput());
    EXPECT_EQ(service.PageSize(), 0);
    EXPECT_EQ(service.PageBuffers(), 0);
    EXPECT_EQ(service.Options(), TRestoreOptions{TRestoreOption::CreateNewDB});
    EXPECT_FALSE(service.IsOptionsStored());
    service.SetLibraryName("GDS32.DLL");
    EXPECT_TRUE(service.IsLibraryNameStored());
    service.SetOptions({});
    EXPECT_TRUE(service.IsOptionsStored());
}

TEST(ServiceDefaults, SettingLocalEmptiesTheServerName) {
    TpFIBRestoreService service;
    service.SetProtocol(TProtocol::TCP);
    service.SetServerName("srv");
    service.SetProtocol(TProtocol::Local);
    EXPECT_EQ(service.ServerName(), "");
}

TEST(ServiceDefaults, BufferSizeOutsideFiveTo65535IsRefused) {
    TpFIBRestoreService service;
    EXPECT_EQ(ClientCodeOf([&] { service.SetBufferSize(4); }), 68);
    EXPECT_EQ(ClientCodeOf([&] { service.SetBufferSize(65536); }), 68);
    EXPECT_EQ(service.BufferSize(), 32000);
    service.SetBufferSize(5);
    service.SetBufferSize(65535);
    EXPECT_EQ(service.BufferSize(), 65535);
}

TEST_F(ServiceOverFake, AttachSendsTheBlockToTheLocalServerAndDetachEndsIt) {
    RecordingLogger logger(&form);
    logger.SetName("logger");
    service->SetSQLLogger(&logger);
    int attaches = 0;
    service->SetOnAttach([&](TComponent* sender) {
        EXPECT_EQ(sender, service);
        ++attaches;
    });
    service->Attach();
    EXPECT_TRUE(service->Active());
    EXPECT_EQ(fake.LastServiceName(), "localhost:service_mgr");
    EXPECT_EQ(fake.LastSpb(), Bytes({2, 2, 28, 6}) + "SYSDBA" + Bytes({29, 9}) + "fernstone");
    EXPECT_EQ(attaches, 1);
    service->SetActive(false);
    EXPECT_FALSE(service->Active());
    EXPECT_EQ(fake.Calls(FakeClient::Detach), 1);
    EXPECT_EQ(logger.log, (std::vector<std::string>{"pFIBRestoreService1 ServiceAttach 0 5",
                                                    "pFIBRestoreService1 ServiceDetach 0 5"}));
}

TEST_F(ServiceOverFake, AttachedServiceRefusesAnotherAttachAndEveryConnectionSetting) {
    service->Attach();
    EXPECT_EQ(ClientCodeOf([&] { service->Attach(); }), 66);
    EXPECT_TRUE(service->Active());
    EXPECT_EQ(ClientCodeOf([&] { service->Params().Add("sql_role_name=r"); }), 66);
    EXPECT_EQ(service->Params().Count(), 2);
    EXPECT_EQ(ClientCodeOf([&] { service->SetServerName("other"); }), 66);
    service->SetServerName("");  // equal value: nothing to refuse
    EXPECT_EQ(ClientCodeOf([&] { service->SetProtocol(TProtocol::TCP); }), 66);
    EXPECT_EQ(ClientCodeOf([&] { service->SetLibraryName(service->LibraryName()); }), 66);
    service->SetActive(true);  // equal value does nothing
    EXPECT_EQ(fake.Calls(FakeClient::Attach), 1);
}

TEST_F(ServiceOverFake, DetachedServiceRefusesDetachAndStart) {
    EXPECT_EQ(ClientCodeOf([&] { service->Detach(); }), 65);
    EXPECT_EQ(ClientCodeOf([&] { service->ServiceStart(); }), 65);
    service->SetActive(false);
    EXPECT_EQ(fake.Calls(FakeClient::Detach), 0);
}

TEST_F(ServiceOverFake, ParamsChangeIsRefusedWhileAttachedAlsoInABracketOpenedBefore) {
    service->Params().BeginUpdate();
    service->Params().Put(1, "password=new");
    service->Attach();
    // The block of the lines as they stand, though the bracket is still open.
    EXPECT_EQ(fake.LastSpb(), Bytes({2, 2, 28, 6}) + "SYSDBA" + Bytes({29, 3}) + "new");
    EXPECT_EQ(ClientCodeOf([&] { service->Params().Add("sql_role_name=r"); }), 66);
    EXPECT_EQ(ClientCodeOf([&] { service->Params().Put(0, "user_name=x"); }), 66);
    service->Params().EndUpdate();
    EXPECT_EQ(service->Params().Lines(),
              (std::vector<std::string>{"user_name=SYSDBA", "password=new"}));
}

TEST_F(ServiceOverFake, MissingServerNameIsReportedBeforeTheLoginIsAskedFor) {
    service->SetProtocol(TProtocol::TCP);
    service->SetLoginPrompt(true);
    int asked = 0;
    service->SetOnLogin([&](TpFIBCustomService*, TStrings&) { ++asked; });
    EXPECT_EQ(ClientCodeOf([&] { service->Attach(); }), 67);
    EXPECT_EQ(asked, 0);
}

TEST_F(ServiceOverFake, RemoteProtocolNeedsAServerName) {
    service->SetProtocol(TProtocol::TCP);
    EXPECT_EQ(ClientCodeOf([&] { service->Attach(); }), 67);
    service->SetServerName("db.example");
    service->Attach();
    EXPECT_EQ(fake.LastServiceName(), "db.example:service_mgr");
}

TEST_F(ServiceOverFake, LoginPromptWithoutAnyPromptCancels) {
    service->SetLoginPrompt(true);
    EXPECT_EQ(ClientCodeOf([&] { service->Attach(); }), 7);
    EXPECT_EQ(fake.Calls(FakeClient::Attach), 0);
}

TEST_F(ServiceOverFake, OnLoginEditsACopyThatReplacesParams) {
    service->SetLoginPrompt(true);
    service->SetOnLogin([&](TpFIBCustomService* database, TStrings& params) {
        EXPECT_EQ(database, service);
        EXPECT_EQ(params.Count(), 2);
        params.Put(1, "password=changed");
    });
    service->Attach();
    EXPECT_EQ(service->Params()[1], "password=changed");
    EXPECT_EQ(fake.LastSpb(), Bytes({2, 2, 28, 6}) + "SYSDBA" + Bytes({29, 7}) + "changed");
}

TEST_F(ServiceOverFake, LoginPromptProcedureFillsTheThreeLines) {
    service->SetLoginPrompt(true);
    service->Params().SetLines({"isc_spb_user_name=old", "password_enc=x"});
    std::string seenServer, seenUser, seenPassword, seenRole = "unset";
    SetLoginPromptProc([&](const std::string& server, std::string& user, std::string& password,
                           std::string& role) {
        seenServer = server;
        seenUser = user;
        seenPassword = password;
        seenRole = role;
        user = "SYSDBA";
        password = "fernstone";
        role = "";
        return true;
    });
    service->Attach();
    EXPECT_EQ(seenUser, "old");
    // "password" is found at the start of the "password_enc" line.
    EXPECT_EQ(seenPassword, "x");
    EXPECT_EQ(seenRole, "");
    EXPECT_EQ(
        service->Params().Lines(),
        (std::vector<std::string>{"user_name=SYSDBA", "password=fernstone", "sql_role_name="}));
    EXPECT_EQ(fake.LastSpb(),
              Bytes({2, 2, 28, 6}) + "SYSDBA" + Bytes({29, 9}) + "fernstone" + Bytes({60, 0}));

    service->Detach();
    SetLoginPromptProc(
        [](const std::string&, std::string&, std::string&, std::string&) { return false; });
    EXPECT_EQ(ClientCodeOf([&] { service->Attach(); }), 7);
}

TEST_F(ServiceOverFake, RefusedLoginIsAServerErrorAndACorrectedRetryWorks) {
    fake.Fail(FakeClient::Attach, kLoginFailed);
    fake.SetSql(-902, "unsuccessful execution");
    fake.AddServerLine("your user name and password are not defined");
    try {
        service->Attach();
        FAIL() << "attach succeeded";
    } catch (const EFIBInterBaseError& e) {
        EXPECT_EQ(e.Message(),
                  "Main_Form.pFIBRestoreService1:\r\nUnsuccessful execution.\r\n"
                  "Your user name and password are not defined.\r\n");
        EXPECT_EQ(e.ServerErrorCode(), kLoginFailed);
        EXPECT_EQ(e.Sender(), service);
    }
    EXPECT_FALSE(service->Active());
    service->Params().Put(1, "password=right");
    service->Attach();
    EXPECT_TRUE(service->Active());
    EXPECT_EQ(fake.LastSpb(), Bytes({2, 2, 28, 6}) + "SYSDBA" + Bytes({29, 5}) + "right");
}

TEST_F(ServiceOverFake, BlockThatFailedToBuildIsNeverSent) {
    service->Params().Add("colour=red");
    EXPECT_EQ(ClientCodeOf([&] { service->Attach(); }), 73);
    EXPECT_EQ(ClientCodeOf([&] { service->Attach(); }), 73);
    EXPECT_EQ(fake.Calls(FakeClient::Attach), 0);
    service->Params().Delete(2);
    service->Attach();
    EXPECT_EQ(fake.LastSpb(), Bytes({2, 2, 28, 6}) + "SYSDBA" + Bytes({29, 9}) + "fernstone");
}

TEST_F(ServiceOverFake, ClientCallsLeaveTheFloatingPointControlWordAsTheProcessHadIt) {
    // The fake lowers the precision inside every call, the integer reader and
    // the error-text functions included.
    service->Attach();
    EXPECT_EQ(platform::FpuControlWord(), platform::DefaultFpuControlWord());
    service->IsRunning();
    EXPECT_EQ(platform::FpuControlWord(), platform::DefaultFpuControlWord());
    service->ServiceStart();
    fake.PushResponse({62, 2, 0, 'o', 'k', 1});
    EXPECT_EQ(service->NextOutputLine(), "ok");
    EXPECT_EQ(platform::FpuControlWord(), platform::DefaultFpuControlWord());
    fake.Fail(FakeClient::Query, isc_network_error);
    fake.AddServerLine("connection lost");
    EXPECT_THROW(service->IsRunning(), EFIBInterBaseError);
    EXPECT_EQ(platform::FpuControlWord(), platform::DefaultFpuControlWord());
}

TEST_F(ServiceOverFake, LibraryNameChangeBindsTheNewLibraryAtTheNextCall) {
    service->SetLibraryName(FAKE_NO_ROLLBACK_RETAINING);
    try {
        service->Attach();
        FAIL() << "attached through a client without services";
    } catch (const EFIBError&) {
        FAIL() << "not a binding error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), std::string("Can't find procedure isc_service_attach in ") +
                                   FAKE_NO_ROLLBACK_RETAINING);
    }
    EXPECT_FALSE(service->Active());
    service->SetLibraryName(FAKE_SCRIPTED);
    service->Attach();
    EXPECT_TRUE(service->Active());
}

TEST_F(ServiceOverFake, LoggerThatGoesAwayIsForgotten) {
    auto* logger = new RecordingLogger(nullptr);
    service->SetSQLLogger(logger);
    delete logger;
    EXPECT_EQ(service->SQLLogger(), nullptr);
    service->Attach();  // would reach the freed logger otherwise
}

TEST_F(ServiceOverFake, LoggersThatOutliveTheServiceOrAreReplacedAreNotToldOfIt) {
    auto* first = new RecordingLogger(nullptr);
    auto* second = new RecordingLogger(nullptr);
    service->SetSQLLogger(first);
    service->SetSQLLogger(second);
    delete first;  // no longer linked: must not reach the service
    EXPECT_EQ(service->SQLLogger(), second);
    delete service;
    service = nullptr;
    delete second;  // the service is gone and must not be reached either
}

TEST_F(ServiceOverFake, DestroyingAnAttachedServiceDetachesIt) {
    service->Attach();
    delete service;
    service = nullptr;
    EXPECT_EQ(fake.Calls(FakeClient::Detach), 1);
}

TEST_F(ServiceOverFake, StoredActiveAttachesAfterLoading) {
    service->BeginLoad();
    service->SetActive(true);
    EXPECT_FALSE(service->Active());
    service->EndLoad();
    EXPECT_TRUE(service->Active());
}

TEST_F(ServiceOverFake, StoredActiveThatCannotAttachIsDroppedAndRetriedOnce) {
    fake.Fail(FakeClient::Attach, isc_network_error);
    service->BeginLoad();
    service->SetActive(true);
    EXPECT_NO_THROW(service->EndLoad());
    EXPECT_FALSE(service->Active());
    fake.Fail(FakeClient::Attach, isc_network_error);
    EXPECT_EQ(ClientCodeOf([&] { service->ServiceStart(); }), 65);
    EXPECT_EQ(fake.Calls(FakeClient::Attach), 2);
    // Once the server answers, the next operation gets its connection.
    EXPECT_NO_THROW(service->ServiceStart());
    EXPECT_TRUE(service->Active());
}

TEST_F(ServiceOverFake, StoredActiveFailureSurfacesWhileDesigning) {
    fake.Fail(FakeClient::Attach, isc_network_error);
    service->SetDesigning(true);
    service->BeginLoad();
    service->SetActive(true);
    EXPECT_THROW(service->EndLoad(), EFIBInterBaseError);
}

// ---- query answers -----------------------------------------------------------

TEST_F(ServiceOverFake, IsRunningReadsTheRunningItem) {
    service->Attach();
    fake.PushResponse({67, 1, 0, 0, 0, 1});
    fake.PushResponse({67, 0, 0, 0, 0, 1});
    fake.PushResponse({67, 2, 0, 0, 0, 1});
    fake.PushResponse({62, 1, 0, 0, 0, 1});
    EXPECT_TRUE(service->IsRunning());
    EXPECT_EQ(fake.LastRequest(), Bytes({67}));
    EXPECT_EQ(fake.LastBufferLength(), 32000);
    EXPECT_FALSE(service->IsRunning());
    EXPECT_FALSE(service->IsRunning());
    EXPECT_EQ(ClientCodeOf([&] { service->IsRunning(); }), 70);
}

TEST_F(ServiceOverFake, TimedOutputReadWaitsInTheServerAndEndsOnlyOnTheBareEnd) {
    service->Attach();
    service->ServiceStart();
    fake.PushResponse({63, 0, 0, 64, 1});                 // time-out, nothing yet
    fake.PushResponse({63, 3, 0, 'a', '\n', 'b', 2, 1});  // more than the buffer held
    fake.PushResponse({63, 1, 0, 'c', 1});                // the last text, not yet the end
    fake.PushResponse({63, 0, 0, 1});
    EXPECT_EQ(service->ReadOutput(2), "");
    EXPECT_EQ(fake.LastSend(), Bytes({64, 4, 0, 2, 0, 0, 0}));
    EXPECT_EQ(fake.LastRequest(), Bytes({63}));
    EXPECT_FALSE(service->EndOfOutput());
    EXPECT_EQ(service->ReadOutput(2), "a\nb");
    EXPECT_EQ(service->ReadOutput(2), "c");
    EXPECT_FALSE(service->EndOfOutput());
    EXPECT_EQ(service->ReadOutput(2), "");
    EXPECT_TRUE(service->EndOfOutput());
    fake.PushResponse({63, 0, 0, 9, 1});
    service->ServiceStart();
    EXPECT_EQ(ClientCodeOf([&] { service->ReadOutput(1); }), 70);
}

TEST_F(ServiceOverFake, OutputLinesAreReadUntilTheEmptyOne) {
    service->Attach();
    service->ServiceStart();
    fake.PushResponse({62, 5, 0, 'a', 'b', 'c', 'd', 'e', 1});
    fake.PushResponse({62, 5, 0, 'a', 'b', 0, 'd', 'e', 1});
    fake.PushResponse({62, 0, 0, 1});
    EXPECT_EQ(service->NextOutputLine(), "abcde");
    EXPECT_EQ(fake.LastRequest(), Bytes({62}));
    EXPECT_FALSE(service->EndOfOutput());
    EXPECT_EQ(service->NextOutputLine(), "ab");
    EXPECT_EQ(service->NextOutputLine(), "");
    EXPECT_TRUE(service->EndOfOutput());
    const int queries = fake.Calls(FakeClient::Query);
    EXPECT_EQ(service->NextOutputLine(), "");
    EXPECT_EQ(fake.Calls(FakeClient::Query), queries);
}

TEST_F(ServiceOverFake, LineWithoutItsEndByteIsUnexpected) {
    service->Attach();
    service->ServiceStart();
    fake.PushResponse({62, 5, 0, 'a', 'b', 'c', 'd', 'e', 2});
    EXPECT_EQ(ClientCodeOf([&] { service->NextOutputLine(); }), 70);
    fake.PushResponse({67, 0, 0, 0, 0, 1});
    EXPECT_EQ(ClientCodeOf([&] { service->NextOutputLine(); }), 70);
}

TEST_F(ServiceOverFake, LineLengthRunningPastTheBufferIsNeverRead) {
    service->Attach();
    service->ServiceStart();
    service->SetBufferSize(16);
    fake.PushResponse({62, 13, 0, 'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'});
    EXPECT_EQ(ClientCodeOf([&] { service->NextOutputLine(); }), 70);
    EXPECT_EQ(fake.LastBufferLength(), 16);
    fake.PushResponse({62, 0xFF, 0xFF, 1});
    EXPECT_EQ(ClientCodeOf([&] { service->NextOutputLine(); }), 70);
    // The largest line that fits: its end byte is the buffer's last byte.
    fake.PushResponse({62, 12, 0, 'l', 'o', 'n', 'g', 'e', 's', 't', '-', 'l', 'i', 'n', 'e', 1});
    EXPECT_EQ(service->NextOutputLine(), "longest-line");
}

TEST_F(ServiceOverFake, OutputBeforeAnyActionIsRefused) {
    PlainQueryService plain(&form);
    plain.SetLibraryName(FAKE_SCRIPTED);
    plain.SetLoginPrompt(false);
    plain.Attach();
    EXPECT_EQ(ClientCodeOf([&] { plain.NextOutputLine(); }), 68);
    // Nothing to start: the generic start has no block to send.
    EXPECT_EQ(ClientCodeOf([&] { plain.ServiceStart(); }), 69);
    EXPECT_EQ(fake.Calls(FakeClient::Start), 0);
}

TEST_F(ServiceOverFake, EmptyQueryBlockIsRefusedAndEveryQueryEmptiesIt) {
    service->Attach();
    EXPECT_EQ(ClientCodeOf([&] { service->ServiceQuery(); }), 68);
    service->RequestQueryItem(67);
    fake.Fail(FakeClient::Query, isc_network_error);
    EXPECT_THROW(service->ServiceQuery(), EFIBInterBaseError);
    EXPECT_EQ(service->QueryBlock(), "");
}

TEST_F(ServiceOverFake, QueryBlockIsEmptiedBeforeTheQueryIsLogged) {
    struct BlockWatcher : RecordingLogger {
        using RecordingLogger::RecordingLogger;
        void LogOperation(const std::string& name, const std::string& operation, int a,
                          int b) override {
            RecordingLogger::LogOperation(name, operation, a, b);
            blocks.push_back(probe->QueryBlock());
        }
        QueryProbe* probe = nullptr;
        std::vector<std::string> blocks;
    } logger(&form);
    logger.probe = service;
    service->Attach();
    service->SetSQLLogger(&logger);
    service->IsRunning();
    EXPECT_EQ(logger.blocks, std::vector<std::string>{""});
}

TEST_F(ServiceOverFake, FailedQueryLeavesTheServiceDetachedWithoutADetachCall) {
    service->Attach();
    fake.Fail(FakeClient::Query, isc_network_error);
    EXPECT_THROW(service->IsRunning(), EFIBInterBaseError);
    EXPECT_FALSE(service->Active());
    EXPECT_EQ(fake.Calls(FakeClient::Detach), 0);
}

TEST_F(ServiceOverFake, FailedStartLeavesTheServiceDetached) {
    service->Attach();
    fake.Fail(FakeClient::Start, isc_io_error);
    EXPECT_THROW(service->ServiceStart(), EFIBInterBaseError);
    EXPECT_FALSE(service->Active());
}

TEST_F(ServiceOverFake, BufferSizeChangeWhileAttachedResizesAndClearsTheBufferInUse) {
    service->Attach();
    service->ServiceStart();
    service->SetBufferSize(16);
    fake.PushResponse({67, 1, 0, 0, 0, 1});
    EXPECT_TRUE(service->IsRunning());
    // Nothing of an earlier answer survives a resize: an answer cut short
    // reads zeros behind it.
    service->SetBufferSize(32);
    fake.PushResponse({67});
    EXPECT_FALSE(service->IsRunning());
    service->SetBufferSize(4000);
    // The server may fill all of it: the buffer must be as long as it is told.
    const std::string text(3990, 'x');
    std::vector<unsigned char> line{62, 3990 & 0xFF, 3990 >> 8};
    line.insert(line.end(), text.begin(), text.end());
    line.push_back(1);
    fake.PushResponse(line);
    EXPECT_EQ(service->NextOutputLine(), text);
    EXPECT_EQ(fake.LastBufferLength(), 4000);
    EXPECT_GE(fake.LastBufferCapacity(), 4000u);
}

TEST_F(ServiceOverFake, TextNotifyGetsTheWholeOutputBeforeStartReturns) {
    std::vector<std::string> lines;
    service->SetVerbose(true);
    service->SetOnTextNotify([&](TComponent* sender, const std::string& line) {
        EXPECT_EQ(sender, service);
        lines.push_back(line);
    });
    fake.PushResponse({62, 3, 0, 'o', 'n', 'e', 1});
    fake.PushResponse({62, 3, 0, 't', 'w', 'o', 1});
    fake.PushResponse({62, 0, 0, 1});
    StartedBlock();
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", ""}));
    EXPECT_TRUE(service->EndOfOutput());
}

// ---- the restore start block -------------------------------------------------

TEST_F(ServiceOverFake, ToolSettingsGiveTheDocumentedBlock) {
    const std::string backup = "C:\\Tovanel\\BackUp\\sample.fbk";
    const std::string target = "C:\\Tovanel\\Data\\sample.fdb";
    service->BackupFile().Add(backup);
    service->DatabaseName().Add(target);
    EXPECT_EQ(StartedBlock(), Bytes({2, 0x6C, 0, 0x20, 0, 0, 0x0A, 0, 0x10, 0, 0}) +
                                  Text(5, backup) + Text(0x6A, target));
}

TEST_F(ServiceOverFake, NewComponentSendsOnlyTheOptions) {
    service->SetPageSize(0);
    EXPECT_EQ(StartedBlock(), Bytes({2, 0x6C, 0, 0x20, 0, 0}));
}

TEST_F(ServiceOverFake, OptionsWordCoversEveryMember) {
    service->SetPageSize(-1);
    service->SetOptions({});
    EXPECT_EQ(StartedBlock(), Bytes({2, 0x6C, 0, 0, 0, 0}));
    service->SetOptions({TRestoreOption::DeactivateIndexes, TRestoreOption::NoShadow,
                         TRestoreOption::NoValidityCheck, TRestoreOption::OneRelationAtATime,
                         TRestoreOption::Replace, TRestoreOption::CreateNewDB,
                         TRestoreOption::UseAllSpace});
    EXPECT_EQ(StartedBlock(), Bytes({2, 0x6C, 0, 0x7F, 0, 0}));
    service->SetOptions({TRestoreOption::Replace});
    EXPECT_EQ(StartedBlock(), Bytes({2, 0x6C, 0, 0x10, 0, 0}));
}

TEST_F(ServiceOverFake, VerboseFlagFollowsTheOptionsAndBuffersFollowThePageSize) {
    service->SetVerbose(true);
    service->SetPageBuffers(75);
    EXPECT_EQ(StartedBlock(),
              Bytes({2, 0x6C, 0, 0x20, 0, 0, 0x6B, 0x0A, 0, 0x10, 0, 0, 0x09, 75, 0, 0, 0}));
}

TEST_F(ServiceOverFake, FileLinesCarryLengthsBlanksAndOrder) {
    service->SetPageSize(0);
    service->BackupFile().SetLines({"a.fbk=2048", "   ", "b.fbk "});
    service->DatabaseName().SetLines({"=4096", "d.fdb=-1"});
    EXPECT_EQ(StartedBlock(), Bytes({2, 0x6C, 0, 0x20, 0, 0}) + Text(5, "a.fbk") +
                                  Bytes({7, 0, 8, 0, 0}) + Text(5, "b.fbk ") +
                                  Bytes({11, 0, 0x10, 0, 0}) + Text(106, "d.fdb") +
                                  Bytes({11, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(ServiceOverFake, LengthThatIsNoDecimalIntegerStopsTheStartAndNothingIsSent) {
    for (const std::string length : {"big", "2048k", "0x10", "", "+", "1 2", "2147483648"}) {
        SCOPED_TRACE(length);
        service->BackupFile().SetLines({"a.fbk=" + length});
        try {
            StartedBlock();
            ADD_FAILURE() << "started with a bad length";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), "'" + length + "' is not a valid integer value");
        }
    }
    EXPECT_EQ(fake.Calls(FakeClient::Start), 0);
    service->BackupFile().SetLines({"a.fbk"});
    service->SetPageSize(0);
    EXPECT_EQ(StartedBlock(), Bytes({2, 0x6C, 0, 0x20, 0, 0}) + Text(5, "a.fbk"));
}

TEST_F(ServiceOverFake, StartBlockThatOutgrowsItsLengthFieldsIsNeverSent) {
    service->SetPageSize(0);
    service->BackupFile().SetLines({std::string(0x10000, 'f')});
    EXPECT_EQ(ClientCodeOf([&] { StartedBlock(); }), 69);
    // Each name fits its own length field; together they outgrow the block's.
    service->BackupFile().SetLines({std::string(40000, 'a'), std::string(40000, 'b')});
    EXPECT_EQ(ClientCodeOf([&] { StartedBlock(); }), 69);
    EXPECT_EQ(fake.Calls(FakeClient::Start), 0);
    // Nothing of the refused blocks is left over for the next start.
    service->BackupFile().SetLines({"a.fbk"});
    EXPECT_EQ(StartedBlock(), Bytes({2, 0x6C, 0, 0x20, 0, 0}) + Text(5, "a.fbk"));
}

// ---- newer restore items -----------------------------------------------------

// The settings whose effect the private Firebird 3 server cannot show; the
// server tests show the others'.
TEST_F(ServiceOverFake, RestoreSettingsTheServerTestsCannotShowAddTheirItems) {
    const std::string base = Bytes({2, 0x6C, 0, 0x20, 0, 0});
    struct Case {
        const char* behaviour;
        std::function<void(TpFIBRestoreService&)> set;
        std::string block;
    };
    const Case cases[] = {
        {"read-write access", [](auto& s) { s.SetAccessMode(TRestoreAccessMode::ReadWrite); },
         base + Bytes({12, 40})},
        {"include data", [](auto& s) { s.SetIncludeData("CUSTOMERS"); },
         base + Text(19, "CUSTOMERS")},
        {"no replica", [](auto& s) { s.SetReplicaMode(TReplicaMode::None); },
         base + Bytes({20, 0})},
        {"read-only replica", [](auto& s) { s.SetReplicaMode(TReplicaMode::ReadOnly); },
         base + Bytes({20, 1})},
        {"read-write replica", [](auto& s) { s.SetReplicaMode(TReplicaMode::ReadWrite); },
         base + Bytes({20, 2})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        TpFIBRestoreService restore(&form);
        restore.SetLibraryName(FAKE_SCRIPTED);
        restore.SetLoginPrompt(false);
        c.set(restore);
        restore.Attach();
        restore.ServiceStart();
        EXPECT_EQ(fake.LastStart(), c.block);
    }
}

// ---- server version and names ------------------------------------------------

TEST(ServerMajorVersion, IsReadFromTheBuildPartOfTheText) {
    const std::pair<const char*, int> cases[] = {
        {"LI-V3.0.11.33703 Firebird 3.0", 3},
        {"LI-V4.0.5.3140 Firebird 4.0", 4},
        {"WI-T5.0.0.1306 Firebird 5.0 Release Candidate 1", 5},
        {"LI-V10.1.0.1 Firebird 10.1", 10},
        {"Firebird 3.0", 0},
        {"LI-V.0.1", 0},
        {"LI-V3", 0},
        {"", 0},
    };
    for (const auto& [text, major] : cases) EXPECT_EQ(ServerMajorVersion(text), major) << text;
}

TEST_F(ServiceOverFake, ServerVersionIsAskedForOnItsOwn) {
    EXPECT_EQ(ClientCodeOf([&] { service->ServerVersion(); }), 65);
    service->Attach();
    fake.PushAnswer(AnswerBuilder().Text(55, "LI-V3.0.11.33703 Firebird 3.0").End().Bytes());
    EXPECT_EQ(service->ServerVersion(), "LI-V3.0.11.33703 Firebird 3.0");
    EXPECT_EQ(fake.LastRequest(), Bytes({55}));
    fake.PushAnswer(AnswerBuilder().End().Bytes());
    EXPECT_EQ(ClientCodeOf([&] { service->ServerVersion(); }), 70);
}

TEST_F(ServiceOverFake, Utf8NamesEndTheAttachBlockWithTheirItemAndAreAConnectionSetting) {
    const std::string credentials = Bytes({2, 2, 28, 6}) + "SYSDBA" + Bytes({29, 9}) + "fernstone";
    service->SetUtf8Names(true);
    service->Attach();
    EXPECT_EQ(fake.LastSpb(), credentials + Bytes({118, 0}));
    EXPECT_EQ(ClientCodeOf([&] { service->SetUtf8Names(false); }), 66);
    service->Detach();
    service->SetUtf8Names(false);
    service->Attach();
    EXPECT_EQ(fake.LastSpb(), credentials);
}

// ---- feeding the action's input ------------------------------------------------

TEST_F(ServiceOverFake, ExchangeFeedsWhatWasAskedForAndEndsOnTheBareEnd) {
    using A = AnswerBuilder;
    service->Attach();
    service->ServiceStart();
    fake.PushAnswer(A().Integer(78, 5).Text(63, "").Byte(4).End().Bytes());
    fake.PushAnswer(A().Integer(78, 0).Text(63, "gbak: ok\n").Byte(2).End().Bytes());
    fake.PushAnswer(A().Integer(78, 3).Text(63, "").Byte(64).End().Bytes());
    fake.PushAnswer(A().Integer(78, 0).Text(63, "").End().Bytes());
    const std::string timeLimit = Bytes({64, 4, 0, 1, 0, 0, 0});

    TServiceExchange turn = service->Exchange(nullptr, 1);
    EXPECT_EQ(fake.LastRequest(), Bytes({78, 63}));
    EXPECT_EQ(fake.LastSend(), timeLimit);
    EXPECT_EQ(turn.inputWanted, 5u);
    const std::string chunk = "abcde";
    turn = service->Exchange(&chunk, 1);
    EXPECT_EQ(fake.LastSend(), timeLimit + Bytes({62, 5, 0}) + chunk);
    EXPECT_EQ(turn.output, "gbak: ok\n");
    EXPECT_EQ(turn.inputWanted, 0u);
    EXPECT_FALSE(turn.endOfOutput);
    turn = service->Exchange(nullptr, 0);
    EXPECT_EQ(fake.LastSend(), "");
    EXPECT_FALSE(turn.endOfOutput);
    const std::string endOfInput;
    turn = service->Exchange(&endOfInput, 1);
    EXPECT_EQ(fake.LastSend(), timeLimit + Bytes({62, 0, 0}));
    EXPECT_TRUE(turn.endOfOutput);
    EXPECT_TRUE(service->EndOfOutput());
    const int queries = fake.Calls(FakeClient::Query);
    EXPECT_TRUE(service->Exchange(nullptr, 1).endOfOutput);
    EXPECT_EQ(fake.Calls(FakeClient::Query), queries);
}

TEST_F(ServiceOverFake, ExchangeRefusesInputTheServerDidNotAskFor) {
    service->Attach();
    service->ServiceStart();
    const std::string two = "ab", three = "abc";
    EXPECT_EQ(ClientCodeOf([&] { service->Exchange(&two, 1); }), 68);
    fake.PushAnswer(AnswerBuilder().Integer(78, 2).Text(63, "").Byte(4).End().Bytes());
    service->Exchange(nullptr, 1);
    EXPECT_EQ(ClientCodeOf([&] { service->Exchange(&three, 1); }), 68);
    EXPECT_EQ(fake.Calls(FakeClient::Query), 1);
    service->Exchange(&two, 1);
    EXPECT_EQ(fake.LastSend().substr(7), Bytes({62, 2, 0}) + two);
}

TEST_F(ServiceOverFake, ExchangeAsksForNoMoreThanOneSendBlockCarries) {
    service->Attach();
    service->ServiceStart();
    fake.PushAnswer(AnswerBuilder().Integer(78, 1000000).Text(63, "").Byte(4).End().Bytes());
    const TServiceExchange turn = service->Exchange(nullptr, 1);
    EXPECT_EQ(turn.inputWanted, TpFIBControlAndQueryService::kMaxExchangeInput);
    const std::string most(turn.inputWanted, 'b');
    service->Exchange(&most, 1);
    EXPECT_EQ(fake.LastSend().size(), 65535u);
}

TEST_F(ServiceOverFake, ExchangeNeedsAStartedActionAndAnAnswerWithTheInputItem) {
    PlainQueryService plain(&form);
    plain.SetLibraryName(FAKE_SCRIPTED);
    plain.SetLoginPrompt(false);
    plain.Attach();
    EXPECT_EQ(ClientCodeOf([&] { plain.Exchange(nullptr, 1); }), 68);
    service->Attach();
    service->ServiceStart();
    fake.PushAnswer(AnswerBuilder().Text(63, "").End().Bytes());
    EXPECT_EQ(ClientCodeOf([&] { service->Exchange(nullptr, 1); }), 70);
}
