#include "services/RestoredDatabaseCheck.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <ibase.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "FakeClient.h"
#include "TraceIsolation.h"
#include "tests/support/Files.h"
#include "tests/support/Server.h"

namespace {

std::string Line(const std::string& text) {
    std::string s{static_cast<char>(isc_info_svc_line), static_cast<char>(text.size()), 0};
    return s + text + static_cast<char>(isc_info_end);
}

void PushLine(FakeClient& fake, const std::string& text) {
    const std::string bytes = Line(text);
    fake.PushResponse(std::vector<unsigned char>(bytes.begin(), bytes.end()));
}

}  // namespace

TEST(RestoredDatabaseCheck, OnlyReadAttributesWithoutShutdownOrMaintenanceConfirm) {
    EXPECT_TRUE(TRestoredDatabaseCheck::IsOnline("force write"));
    EXPECT_TRUE(TRestoredDatabaseCheck::IsOnline(""));  // a header without flags
    EXPECT_FALSE(TRestoredDatabaseCheck::IsOnline(std::nullopt));
    EXPECT_FALSE(TRestoredDatabaseCheck::IsOnline("single-user maintenance"));
    EXPECT_FALSE(TRestoredDatabaseCheck::IsOnline("force write, multi-user maintenance"));
    EXPECT_FALSE(TRestoredDatabaseCheck::IsOnline("full shutdown"));
    // Newer servers' words for databases that are online all the same.
    EXPECT_TRUE(TRestoredDatabaseCheck::IsOnline("force write, read only"));
    EXPECT_TRUE(TRestoredDatabaseCheck::IsOnline("force write, no reserve, read-only replica"));
    EXPECT_TRUE(TRestoredDatabaseCheck::IsOnline("read-write replica"));
}

TEST(RestoredDatabaseCheck, AsksForTheHeaderUnderItsOwnNameAndReadsTheAttributeLine) {
    FakeClient fake{FAKE_SCRIPTED};
    TRestoredDatabaseCheck check;
    check.SetLibraryName(FAKE_SCRIPTED);
    check.SetDatabaseName("/d/a.fdb");
    PushLine(fake, "Database header page information:");
    PushLine(fake, "\tAttributes\t\tforce write, no reserve");
    PushLine(fake, "\tAttributes\t\tshutdown");  // only the first counts
    EXPECT_EQ(check.HeaderAttributes(), "force write, no reserve");
    EXPECT_EQ(check.Name(), "RestoredDatabaseCheck");
    const std::string expected = Bytes({isc_action_svc_db_stats, isc_spb_dbname, 8, 0}) +
                                 "/d/a.fdb" +
                                 Bytes({isc_spb_options, isc_spb_sts_hdr_pages, 0, 0, 0});
    EXPECT_EQ(fake.LastStart(), expected);
    EXPECT_FALSE(check.Active());
}

TEST(RestoredDatabaseCheck, AnAnswerWithoutAnAttributeLineConfirmsNothing) {
    FakeClient fake{FAKE_SCRIPTED};
    TRestoredDatabaseCheck check;
    check.SetLibraryName(FAKE_SCRIPTED);
    check.SetDatabaseName("/d/a.fdb");
    PushLine(fake, "Database header page information:");
    const auto attributes = check.HeaderAttributes();
    EXPECT_FALSE(attributes.has_value());
    EXPECT_FALSE(TRestoredDatabaseCheck::IsOnline(attributes));
    // A line without words is a header without flags (asynchronous writes).
    PushLine(fake, "\tAttributes\t\t ");
    EXPECT_EQ(check.HeaderAttributes(), "");
}

TEST(RestoredDatabaseCheck, AFailedDetachAfterAnErrorLeavesTheFirstError) {
    FakeClient fake{FAKE_SCRIPTED};
    TRestoredDatabaseCheck check;
    check.SetLibraryName(FAKE_SCRIPTED);
    check.SetDatabaseName("/d/a.fdb");
    fake.PushResponse({0x99});  // no line item: the answer cannot be read
    fake.Fail(FakeClient::Detach, isc_network_error);
    try {
        check.HeaderAttributes();
        FAIL() << "an unreadable answer passed";
    } catch (const EFIBClientError& error) {
        EXPECT_EQ(error.ClientErrorCode(), UnexpectedOutputValue) << error.what();
    }
    EXPECT_EQ(fake.Calls(FakeClient::Detach), 1);
    EXPECT_FALSE(check.Active());
}

namespace {

// Against the run's private server: its own wording, whichever release the
// run selected.
class RestoredDatabaseCheckOnServer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(test_support::ServerDir().empty())
            << "FIREBIRD must name the server's client root";
        // Before the client library is first loaded in this process.
        ::setenv("FIREBIRD_LOCK", (test_support::ServerDir() / "client-lock").c_str(), 0);
        const std::string release =
            test_support::ServerRelease() == 4 ? "Firebird 4.0" : "Firebird 3.0";
        ASSERT_NE(Services("info_server_version").find(release), std::string::npos)
            << "not the selected server";
        folder_.emplace("header-check", test_support::ServerDir() / "db");
        ::chmod(folder_->Root().c_str(), 0777);  // the server writes the database
        database_ = folder_->Path("restored.fdb");
        const std::string out = Services(
            "action_restore bkp_file '" SAMPLE_DIR "/sample.fbk' dbname '" + database_ + "'");
        ASSERT_TRUE(out.empty()) << out;
        check_.SetLibraryName("GDS32.DLL");
        check_.Params().SetLines({"user_name=SYSDBA", "password=fernstone"});
        check_.SetDatabaseName(database_);
    }

    // What the server's own service tool prints for `arguments`.
    static std::string Services(const std::string& arguments) {
        return test_support::CommandOutput(
            "timeout 60 '" PROJECT_SCRIPTS "/fbserver.sh' run '" +
            test_support::ServerDir().string() +
            "' fbsvcmgr localhost:service_mgr -user SYSDBA -password fernstone " + arguments +
            " 2>&1");
    }
    std::string Properties(const std::string& arguments) const {
        return Services("action_properties dbname '" + database_ + "' " + arguments);
    }

    std::optional<test_support::TempFolder> folder_;
    std::string database_;
    TRestoredDatabaseCheck check_;
};

}  // namespace

TEST_F(RestoredDatabaseCheckOnServer, ARestoredDatabaseIsOnlineAndEachShutdownModeIsNot) {
    EXPECT_EQ(check_.HeaderAttributes(), "force write");
    const struct {
        const char* mode;
        const char* words;
    } modes[] = {{"prp_sm_multi", "force write, multi-user maintenance"},
                 {"prp_sm_single", "force write, single-user maintenance"},
                 {"prp_sm_full", "force write, full shutdown"}};
    for (const auto& m : modes) {
        SCOPED_TRACE(m.mode);
        ASSERT_EQ(Properties(std::string("prp_shutdown_mode ") + m.mode + " prp_force_shutdown 0"),
                  "");
        const auto attributes = check_.HeaderAttributes();
        EXPECT_EQ(attributes, m.words);
        EXPECT_FALSE(TRestoredDatabaseCheck::IsOnline(attributes));
        ASSERT_EQ(Properties("prp_online_mode prp_sm_normal"), "");
    }
    EXPECT_TRUE(TRestoredDatabaseCheck::IsOnline(check_.HeaderAttributes()));
}
