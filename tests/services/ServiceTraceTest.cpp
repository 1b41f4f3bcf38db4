// Service operations as a monitor program sees them: a reader registered on
// the trace transport (under this program's name prefix), the service over
// the scripted client library.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "FakeClient.h"
#include "RecordingLogger.h"
#include "TraceIsolation.h"
#include "TraceReader.h"
#include "services/FIBSQLMonitor.h"
#include "services/IB_Intf.h"
#include "services/IB_Services.h"

using namespace std::chrono_literals;

namespace {

class ServiceTrace : public ::testing::Test {
  protected:
    void SetUp() override {
        // Each test starts with a monitor that has seen nothing, on objects
        // of its own.
        ResetTraceMonitorForTests();
        TraceIsolation::RemoveTraceObjects();
        form.SetName("Main_Form");
        service->SetName("pFIBRestoreService1");
        service->SetLibraryName(FAKE_SCRIPTED);
        service->SetLoginPrompt(false);
        service->Params().SetLines({"user_name=SYSDBA", "password=fernstone"});
        logger.SetName("logger");
        service->SetSQLLogger(ComponentLogger(logger));
    }
    void TearDown() override {
        reader.reset();
        ResetTraceMonitorForTests();
        TraceIsolation::RemoveTraceObjects();
    }

    void RegisterReader() {
        reader = std::make_unique<TraceReader>();
        ASSERT_TRUE(reader->Register(false, stop));
    }

    // The service texts that reach the reader, up to `expected` of them and
    // then whatever else arrives in a short while: "name:[Event]".
    std::vector<std::string> Read(std::size_t expected) {
        std::vector<std::string> texts;
        while (auto chunk = reader->Next(texts.size() < expected ? 3000ms : 300ms, stop)) {
            EXPECT_EQ(chunk->category, trace_transport::kServiceCategory);
            // The text follows the line that names the application.
            const std::size_t lineStart = chunk->bytes.rfind('\n');
            texts.push_back(
                chunk->bytes.substr(lineStart == std::string::npos ? 0 : lineStart + 1));
        }
        return texts;
    }

    FakeClient fake{FAKE_SCRIPTED};
    std::atomic<bool> stop{false};
    std::unique_ptr<TraceReader> reader;
    TComponent form{nullptr};
    RecordingLogger logger{&form};
    TpFIBRestoreService* service = new TpFIBRestoreService(&form);
};

using Texts = std::vector<std::string>;

TEST_F(ServiceTrace, EverySuccessfulOperationReachesARegisteredMonitorInOrder) {
    RegisterReader();
    service->Attach();
    service->IsRunning();
    service->ServiceStart();
    fake.PushResponse({62, 2, 0, 'o', 'k', 1});
    service->NextOutputLine();
    service->Detach();
    EXPECT_EQ(Read(5), (Texts{"pFIBRestoreService1:[Attach]", "pFIBRestoreService1:[Query]",
                              "pFIBRestoreService1:[Start]", "pFIBRestoreService1:[Query]",
                              "pFIBRestoreService1:[Detach]"}));
}

TEST_F(ServiceTrace, FailedOperationsAreReportedNeitherToTheMonitorNorToTheLogger) {
    RegisterReader();
    fake.Fail(FakeClient::Attach, isc_network_error);
    EXPECT_THROW(service->Attach(), EFIBInterBaseError);
    service->Attach();
    fake.Fail(FakeClient::Query, isc_network_error);
    EXPECT_THROW(service->IsRunning(), EFIBInterBaseError);
    service->Attach();
    fake.Fail(FakeClient::Start, isc_io_error);
    EXPECT_THROW(service->ServiceStart(), EFIBInterBaseError);
    EXPECT_EQ(Read(2), (Texts{"pFIBRestoreService1:[Attach]", "pFIBRestoreService1:[Attach]"}));
    EXPECT_EQ(logger.log, (Texts{"pFIBRestoreService1 ServiceAttach 0 5",
                                 "pFIBRestoreService1 ServiceAttach 0 5"}));
}

TEST_F(ServiceTrace, FailedDetachDropsTheHandleAndReportsNothing) {
    RegisterReader();
    service->Attach();
    fake.Fail(FakeClient::Detach, isc_network_error);
    EXPECT_THROW(service->Detach(), EFIBInterBaseError);
    EXPECT_FALSE(service->Active());
    EXPECT_EQ(fake.Calls(FakeClient::Detach), 1);
    // Nothing is left to detach: a second try is refused before the server.
    EXPECT_THROW(service->Detach(), EFIBClientError);
    EXPECT_EQ(fake.Calls(FakeClient::Detach), 1);
    EXPECT_EQ(Read(1), Texts{"pFIBRestoreService1:[Attach]"});
    EXPECT_EQ(logger.log, Texts{"pFIBRestoreService1 ServiceAttach 0 5"});
}

TEST_F(ServiceTrace, OperationsWhileNoMonitorIsRegisteredAreNotKeptForALaterOne) {
    service->Attach();
    service->IsRunning();
    RegisterReader();
    service->Detach();
    EXPECT_EQ(Read(1), Texts{"pFIBRestoreService1:[Detach]"});
}

}  // namespace
