#include "services/fib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
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

// The operator reads these texts byte for byte, and the row number is the
// code callers test for: every row is compared, and every row that needs no
// argument is raised as it stands.
struct MessageRow {
    int code;
    const char* text;
};
// clang-format off
const MessageRow kExpectedMessages[] = {
    {0, "Unknown error."},
    {1, "Unsupported feature."},
    {2, "Not permitted."},
    {3, "Temporary file access error."},
    {4, "Database connection timed out."},
    {5, "Cannot set database."},
    {6, "Cannot set transaction."},
    {7, "Operation cancelled at user's request."},
    {8, "DPB Constant (isc_dpb_%s) is unsupported."},
    {9, "DPB Constant (%s) is unknown."},
    {10, "TPB Constant (isc_tpb_%s) is unsupported."},
    {11, "TPB Constant (%s) is unknown."},
    {12, "%s: Cannot perform operation -- DB is not open."},
    {13, "Cannot perform operation -- DB is currently open."},
    {14, "Database name is missing."},
    {15, "%s :Transaction is not active."},
    {16, "%s :Transaction is active."},
    {17, "Timeout values cannot be negative."},
    {18, "%s :No databases are listed in transaction component."},
    {19, "%s :Updating wrong database."},
    {20, "%s :Updating wrong transaction."},
    {21, "Database not assigned for %s."},
    {22, "Transaction not assigned for %s."},
    {23, "XSQLDA index out of range."},
    {24, "XSQLDA name does not exist (%s)."},
    {25, "End of file."},
    {26, "Beginning of file."},
    {27, "%s:Invalid statement handle."},
    {28, "Can't %s because %s dataset open."},
    {29, "Can't %s because %s dataset closed."},
    {30, "Unknown SQL Data type (%d)."},
    {31, "Invalid column index (index exceeds permitted range)."},
    {32, "Invalid parameter index (index exceeds permitted range)."},
    {33, "Invalid data conversion."},
    {34, "Column cannot be set to null (%s)"},
    {35, "Blob stream cannot be read."},
    {36, "Blob stream cannot be written."},
    {37, "Can't %s , because  query is empty"},
    {38, "Can't \"open\" a non-select statement. Use ExecQuery."},
    {39, "No access to field \"%s\"."},
    {40, "Field \"%s\" is read-only."},
    {41, "Field \"%s\" not found."},
    {42, "DataSet not in Edit or Insert mode.(%s)"},
    {43, "Not editing."},
    {44, "Can't insert into dataset. (%s)"},
    {45, "Can't post. (%s) "},
    {46, "Can't update. (%s)"},
    {47, "Can't delete from dataset. (%s)"},
    {48, "Can't refresh row. (%s)"},
    {49, "Buffer not set."},
    {50, "Circular references not permitted.(%s)"},
    {51, "SQL Parse Error in :%s \r\n\r\n%s"},
    {52, "User abort."},
    {53, "Data set is uni-directional."},
    {54, "Cannot create shared resource. (Windows error %d)"},
    {55, "Windows API error. (Windows error %d [$%.8x])"},
    {56, "Column lists do not match."},
    {57, "Column types don't match. (From index: %d, To index: %d)"},
    {58, "Can't end a shared transaction unless it is forced and equal to the transaction's TimeoutAction."},
    {59, "Column types \"%s\" is not array field"},
    {60, "Dimension %d don't exist in \"%s\" "},
    {61, "SQL Dialect invalid"},
    {62, "InterBase library gds32.dll not found in the path. Please install InterBase to use this functionality"},
    {63, "%s is an InterBase6 function. Please upgrade to InterBase6 to use this functonality"},
    {64, "InterBase Install DLL ibinstall.dll not found in the path. Please install InterBase 6 to use this functionality"},
    {65, "Cannot perform operation -- service is not attached"},
    {66, "Cannot perform operation -- service is attached"},
    {67, "Server Name Missing"},
    {68, "Query Parameters missing or incorrect"},
    {69, "Start Parameters missing or incorrect"},
    {70, "Unexpected Output buffer value"},
    {71, "Generic ServiceStart not applicable: Use Specific Procedures to set configuration params"},
    {72, "SPB Constant Not supported"},
    {73, "SPB Constant Unknown"},
    {74, "Field Size too small. Field %s.%s"},
    {75, "%s. Can't use limited cache. \r\n"
     "CachedUpdates must be False,\r\n"
     "Select must have \"Order by\" clause ,\r\n"
     "All order fields must exist in fields section\r\n"
     "Select can't use params with prefix \"NEW_\"\r\n"
     "UpdateTransaction must be equel Transaction or AutoCommit=True "},
    {76, "Error in %s. FieldList is empty."},
    {77, "%s can't use field \"%s\""},
    {78, "%s is an Firebird 2 function. Please upgrade to Firebird 2 to use this functonality"},
};
// clang-format on

TEST(ClientErrorMessages, EveryRowHoldsItsTextAndIsRaisedUnderItsCode) {
    ASSERT_EQ(kClientErrorMessageCount, 79);
    ASSERT_EQ(std::size(kExpectedMessages), 79u);
    for (const MessageRow& row : kExpectedMessages) {
        SCOPED_TRACE(row.code);
        EXPECT_STREQ(ClientErrorMessages[row.code], row.text);
        if (std::strchr(row.text, '%'))
            continue;
        const auto e = Catch<EFIBClientError>([&] { RaiseClientError(row.code); });
        EXPECT_EQ(e.Message(), row.text);
        EXPECT_EQ(e.ClientErrorCode(), row.code);
    }
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
