#include "services/fib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "FakeClient.h"
#include "services/IB_Intf.h"

namespace {

// The restore service as the main window owns it: an unnamed application
// object, the window, the service.
struct OwnedService {
    TComponent application{nullptr};
    TComponent* form = new TComponent(&application);
    TComponent* service = new TComponent(form);
    OwnedService() {
        form->SetName("Main_Form");
        service->SetName("pFIBRestoreService1");
    }
};

void ClearStatus() {
    std::memset(ThreadStatusVector(), 0, sizeof(FibStatusWord) * kStatusVectorLength);
}

template <class E, class F>
E Catch(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e;
    }
    ADD_FAILURE() << "nothing was raised";
    throw std::logic_error("nothing raised");
}

}  // namespace

TEST(ClientErrorMessages, KeepsTheTextsTheOperatorReads) {
    ASSERT_EQ(kClientErrorMessageCount, 79);
    EXPECT_STREQ(ClientErrorMessages[0], "Unknown error.");
    EXPECT_STREQ(ClientErrorMessages[7], "Operation cancelled at user's request.");
    EXPECT_STREQ(ClientErrorMessages[37], "Can't %s , because  query is empty");
    EXPECT_STREQ(ClientErrorMessages[38], "Can't \"open\" a non-select statement. Use ExecQuery.");
    EXPECT_STREQ(ClientErrorMessages[45], "Can't post. (%s) ");
    EXPECT_STREQ(ClientErrorMessages[51], "SQL Parse Error in :%s \r\n\r\n%s");
    EXPECT_STREQ(ClientErrorMessages[60], "Dimension %d don't exist in \"%s\" ");
    EXPECT_STREQ(ClientErrorMessages[65], "Cannot perform operation -- service is not attached");
    EXPECT_STREQ(ClientErrorMessages[66], "Cannot perform operation -- service is attached");
    EXPECT_STREQ(ClientErrorMessages[67], "Server Name Missing");
    EXPECT_STREQ(ClientErrorMessages[68], "Query Parameters missing or incorrect");
    EXPECT_STREQ(ClientErrorMessages[69], "Start Parameters missing or incorrect");
    EXPECT_STREQ(ClientErrorMessages[70], "Unexpected Output buffer value");
    EXPECT_STREQ(ClientErrorMessages[72], "SPB Constant Not supported");
    EXPECT_STREQ(ClientErrorMessages[73], "SPB Constant Unknown");
    EXPECT_STREQ(ClientErrorMessages[75],
                 "%s. Can't use limited cache. \r\nCachedUpdates must be False,\r\n"
                 "Select must have \"Order by\" clause ,\r\n"
                 "All order fields must exist in fields section\r\n"
                 "Select can't use params with prefix \"NEW_\"\r\n"
                 "UpdateTransaction must be equel Transaction or AutoCommit=True ");
    EXPECT_STREQ(ClientErrorMessages[78],
                 "%s is an Firebird 2 function. Please upgrade to Firebird 2 to use this "
                 "functonality");
}

TEST(RaiseClientError, RaisesTheTableTextWithoutPrefixOrServerParts) {
    ClearStatus();
    auto e = Catch<EFIBClientError>([] { RaiseClientError(ServiceNotAttached); });
    EXPECT_EQ(e.Message(), "Cannot perform operation -- service is not attached");
    EXPECT_EQ(e.SqlCode(), 65);
    EXPECT_EQ(e.ClientErrorCode(), 65);
    EXPECT_EQ(e.ServerErrorCode(), 0);
    EXPECT_TRUE(e.SqlMessage().empty());
    EXPECT_TRUE(e.ServerMessage().empty());
    EXPECT_EQ(e.Sender(), nullptr);
}

TEST(RaiseClientError, FormatsItsArgumentsAndIgnoresSurplusOnes) {
    auto e = Catch<EFIBClientError>([] { RaiseClientError(55, {5, 255}); });
    EXPECT_EQ(e.Message(), "Windows API error. (Windows error 5 [$000000ff])");
    auto shared = Catch<EFIBClientError>([] { RaiseClientError(54, {32, "surplus"}); });
    EXPECT_EQ(shared.Message(), "Cannot create shared resource. (Windows error 32)");
    auto plain = Catch<EFIBClientError>([] { RaiseClientError(67, {"ignored"}); });
    EXPECT_EQ(plain.Message(), "Server Name Missing");
}

TEST(RaiseClientError, CarriesWhateverTheLastClientCallLeftInWordOne) {
    ThreadStatusVector()[1] = 335544721;
    auto e = Catch<EFIBClientError>([] { RaiseClientError(ServiceAttached); });
    EXPECT_EQ(e.ServerErrorCode(), 335544721);
    ClearStatus();
}

TEST(EFIBError, PrefixesTheComponentPathOfAComponentSender) {
    OwnedService owned;
    EFIBError e(1, "text", owned.service);
    EXPECT_EQ(e.Message(), "Main_Form.pFIBRestoreService1:\r\ntext");
    EXPECT_EQ(e.Sender(), owned.service);
    EXPECT_EQ(e.SenderComponent(), owned.service);
}

TEST(EFIBError, NoPrefixForNoSenderOrAPlainObject) {
    int plainObject = 0;
    EXPECT_EQ(EFIBError(1, "text", nullptr).Message(), "text");
    EFIBError e(1, "text", &plainObject);
    EXPECT_EQ(e.Message(), "text");
    EXPECT_EQ(e.Sender(), &plainObject);
    EXPECT_EQ(e.SenderComponent(), nullptr);
}

TEST(EFIBError, ComponentWithUnnamedOwnersGivesItsOwnNameAlone) {
    TComponent owner(nullptr);
    auto* service = new TComponent(&owner);
    service->SetName("svc");
    EXPECT_EQ(EFIBError(1, "x", service).Message(), "svc:\r\nx");
}

TEST(EFIBError, SenderPathSwitchOffDropsThePrefix) {
    OwnedService owned;
    ASSERT_EQ(ErrorMessageOptions(), 14);
    SetErrorMessageOptions(ShowServerMessages | ShowSqlMessage);
    EFIBError e(1, "text", owned.service);
    ResetErrorMessageOptions();
    EXPECT_EQ(e.Message(), "text");
}

TEST(EFIBError, ServerFormJoinsTheTwoTextsAndKeepsThemApart) {
    EFIBError e(-902, "Sql.\r\n", "Line.\r\n", nullptr);
    EXPECT_EQ(e.Message(), "Sql.\r\nLine.\r\n");
    EXPECT_EQ(e.SqlCode(), -902);
    EXPECT_EQ(e.SqlMessage(), "Sql.\r\n");
    EXPECT_EQ(e.ServerMessage(), "Line.\r\n");
}

TEST(ThreadStatusVector, EachThreadHasItsOwnZeroFilledVector) {
    FibStatusWord* mine = ThreadStatusVector();
    mine[1] = 42;
    FibStatusWord* theirs = nullptr;
    FibStatusWord theirWordOne = -1;
    std::thread other([&] {
        theirs = ThreadStatusVector();
        theirWordOne = theirs[1];
        theirs[1] = 7;
    });
    other.join();
    EXPECT_NE(mine, theirs);
    EXPECT_EQ(theirWordOne, 0);
    EXPECT_EQ(mine[1], 42);
    ClearStatus();
}

// RaiseServerError over a client library whose texts the test scripts.
class RaiseServerErrorScripted : public ::testing::Test {
  protected:
    void SetUp() override {
        ClearStatus();
        ThreadStatusVector()[0] = 1;
        ThreadStatusVector()[1] = 335544344;
    }
    void TearDown() override {
        ResetErrorMessageOptions();
        ClearStatus();
    }
    EFIBInterBaseError Raise(ErrorSender sender = nullptr) {
        auto library = FindOrLoadClientLibrary(FAKE_SCRIPTED);
        return Catch<EFIBInterBaseError>([&] { RaiseServerError(library, sender); });
    }
    FakeClient fake{FAKE_SCRIPTED};
};

TEST_F(RaiseServerErrorScripted, UpperCasesFirstLettersAndEndsEveryPartWithFullStopAndCrLf) {
    fake.SetSql(-902, "unsuccessful execution");
    fake.AddServerLine("i/o error during \"open\" operation");
    fake.AddServerLine("error while trying to open file");
    auto e = Raise();
    EXPECT_EQ(e.SqlCode(), -902);
    EXPECT_EQ(e.ServerErrorCode(), 335544344);
    EXPECT_EQ(e.SqlMessage(), "Unsuccessful execution.\r\n");
    EXPECT_EQ(e.ServerMessage(),
              "I/o error during \"open\" operation.\r\nError while trying to open file.\r\n");
    EXPECT_EQ(e.Message(), e.SqlMessage() + e.ServerMessage());
}

TEST_F(RaiseServerErrorScripted, SqlMessageEndingWithFullStopGetsNoLineBreak) {
    fake.SetSql(-551, "No privilege.");
    fake.AddServerLine("no permission for read access");
    EXPECT_EQ(Raise().Message(), "No privilege.No permission for read access.\r\n");
}

TEST_F(RaiseServerErrorScripted, RemovesBackslashNButKeepsRealLineFeeds) {
    fake.SetSql(-902, "first\\nsecond\nthird");
    EXPECT_EQ(Raise().SqlMessage(), "Firstsecond\nthird.\r\n");
}

TEST_F(RaiseServerErrorScripted, SkipsEmptyLinesAndDoesNotDoubleFullStops) {
    fake.SetSql(0, "");
    fake.AddServerLine("done.");
    fake.AddServerLine("");
    fake.AddServerLine("9 lives");
    fake.AddServerLine("\xEC\x98\xA4\xEB\xA5\x98");
    auto e = Raise();
    EXPECT_EQ(e.SqlMessage(), "");
    EXPECT_EQ(e.Message(), "Done.\r\n9 lives.\r\n\xEC\x98\xA4\xEB\xA5\x98.\r\n");
}

TEST_F(RaiseServerErrorScripted, PrefixesTheOwnedServicePath) {
    OwnedService owned;
    fake.SetSql(-902, "Failure");
    auto e = Raise(owned.service);
    EXPECT_EQ(e.Message(), "Main_Form.pFIBRestoreService1:\r\nFailure.\r\n");
}

TEST_F(RaiseServerErrorScripted, SwitchesLeaveOutTheirParts) {
    fake.SetSql(-902, "sql part");
    fake.AddServerLine("server part");
    SetErrorMessageOptions(ShowServerMessages);
    EXPECT_EQ(Raise().Message(), "Server part.\r\n");
    SetErrorMessageOptions(ShowSqlMessage);
    EXPECT_EQ(Raise().Message(), "Sql part.\r\n");
}

// Real failures of the real client library: no server listens on port 1.
class RaiseServerErrorRealClient : public ::testing::Test {
  protected:
    void TearDown() override { ClearStatus(); }
};

TEST_F(RaiseServerErrorRealClient, RefusedConnectionReadsAsTheOperatorSeesIt) {
    OwnedService owned;
    auto library = FindOrLoadClientLibrary("GDS32.DLL");
    const std::string name = "127.0.0.1/1:service_mgr";
    const char spb[] = {2, 2};
    unsigned handle = 0;
    ISC_STATUS status =
        library->isc_service_attach(ThreadStatusVector(), static_cast<unsigned short>(name.size()),
                                    name.c_str(), &handle, 2, spb);
    ASSERT_GT(status, 0);
    auto e = Catch<EFIBInterBaseError>([&] { RaiseServerError(library, owned.service); });

    EXPECT_EQ(e.ServerErrorCode(), isc_network_error);
    EXPECT_LT(e.SqlCode(), 0);
    const std::string prefix = "Main_Form.pFIBRestoreService1:\r\n";
    ASSERT_EQ(e.Message().substr(0, prefix.size()), prefix);
    EXPECT_EQ(e.Message(), prefix + e.SqlMessage() + e.ServerMessage());
    EXPECT_EQ(e.Message().find("\\n"), std::string::npos);
    ASSERT_FALSE(e.SqlMessage().empty());
    EXPECT_TRUE(std::isupper(static_cast<unsigned char>(e.SqlMessage()[0])));
    EXPECT_NE(e.ServerMessage().find("127.0.0.1"), std::string::npos);
    // Every server line ends with a full stop and CR LF, and starts upper case.
    std::size_t start = 0;
    int lines = 0;
    while (start < e.ServerMessage().size()) {
        std::size_t end = e.ServerMessage().find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        ASSERT_GT(end, start);
        EXPECT_EQ(e.ServerMessage()[end - 1], '.');
        EXPECT_FALSE(std::islower(static_cast<unsigned char>(e.ServerMessage()[start])));
        start = end + 2;
        ++lines;
    }
    EXPECT_GE(lines, 2);

    // A plain object as sender gives the same text without the path.
    library->isc_service_attach(ThreadStatusVector(), static_cast<unsigned short>(name.size()),
                                name.c_str(), &handle, 2, spb);
    int plainObject = 0;
    auto bare = Catch<EFIBInterBaseError>([&] { RaiseServerError(library, &plainObject); });
    EXPECT_EQ(bare.Message(), e.SqlMessage() + e.ServerMessage());
}

TEST_F(RaiseServerErrorRealClient, EmptyStatusStillRaisesWithTheSqlCodeText) {
    ClearStatus();
    auto library = FindOrLoadClientLibrary("GDS32.DLL");
    auto e = Catch<EFIBInterBaseError>([&] { RaiseServerError(library, nullptr); });
    EXPECT_EQ(e.ServerErrorCode(), 0);
    EXPECT_EQ(e.ServerMessage(), "");
    // The library's own text for SQLCODE 0 starts in lower case.
    ASSERT_GE(e.SqlMessage().size(), 3u);
    EXPECT_TRUE(std::isupper(static_cast<unsigned char>(e.SqlMessage()[0])));
    EXPECT_EQ(e.SqlMessage().substr(e.SqlMessage().size() - 3), ".\r\n");
}
