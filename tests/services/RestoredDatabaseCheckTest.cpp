#include "services/RestoredDatabaseCheck.h"

#include <gtest/gtest.h>

#include <ibase.h>

#include "FakeClient.h"
#include "TraceIsolation.h"

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
