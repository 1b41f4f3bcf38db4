#include "services/IB_Intf.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "FakeClient.h"
#include "core/Exceptions.h"
#include "platform/FloatingPoint.h"
#include "services/fib.h"

namespace {

bool IsMapped(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
}

template <class E, class F>
std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.Message();
    }
    return "<nothing raised>";
}

class ClientLibraryBinding : public ::testing::Test {
  protected:
    void SetUp() override { ClientLibraryRegistry::Reset(); }
    void TearDown() override { ClientLibraryRegistry::Reset(); }
};

}  // namespace

TEST_F(ClientLibraryBinding, LibraryThatCannotBeLoadedRaisesWithTheNameAndATrailingSpace) {
    const std::string name = "/nonexistent/libclient.so";
    EXPECT_EQ(MessageOf<Exception>([&] { FindOrLoadClientLibrary(name); }),
              "Can't load library /nonexistent/libclient.so ");
    EXPECT_EQ(ClientLibraryRegistry::Count(), 0);
    EXPECT_EQ(MessageOf<Exception>([&] { FindOrLoadClientLibrary(name); }),
              "Can't load library /nonexistent/libclient.so ");
}

TEST_F(ClientLibraryBinding, MissingRequiredEntryPointIsAnOsErrorAndNothingStaysLoaded) {
    try {
        FindOrLoadClientLibrary(FAKE_MISSING_REQUIRED);
        FAIL() << "loaded a library without isc_dsql_fetch";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.ErrorCode(), 127u);
        const std::string head = "System Error.  Code: 127.\r\n";
        EXPECT_EQ(e.Message().substr(0, head.size()), head);
        EXPECT_NE(e.Message().find("isc_dsql_fetch"), std::string::npos) << e.Message();
    }
    EXPECT_EQ(ClientLibraryRegistry::Count(), 0);
    EXPECT_FALSE(IsMapped(FAKE_MISSING_REQUIRED));
    // Nothing was registered, so the next request loads anew and fails again.
    EXPECT_THROW(FindOrLoadClientLibrary(FAKE_MISSING_REQUIRED), EOSError);
    EXPECT_FALSE(IsMapped(FAKE_MISSING_REQUIRED));
}

TEST_F(ClientLibraryBinding, OldClientWithoutRollbackRetainingIsVersionFiveWithoutServices) {
    auto library = FindOrLoadClientLibrary(FAKE_NO_ROLLBACK_RETAINING);
    EXPECT_EQ(library->ClientMajorVersion(), 5);
    EXPECT_EQ(library->ClientMinorVersion(), 0);
    unsigned handle = 0;
    EXPECT_EQ(
        MessageOf<Exception>(
            [&] { library->isc_service_attach(ThreadStatusVector(), 0, "", &handle, 0, ""); }),
        std::string("Can't find procedure isc_service_attach in ") + FAKE_NO_ROLLBACK_RETAINING);
    // The error-text entry points are there all the same.
    EXPECT_EQ(library->isc_vax_integer("\x01\x02", 2), 0x0201);
}

TEST_F(ClientLibraryBinding, ClientWithoutVersionFunctionIsVersionSixZero) {
    auto library = FindOrLoadClientLibrary(FAKE_NO_CLIENT_VERSION);
    EXPECT_EQ(library->ClientMajorVersion(), 6);
    EXPECT_EQ(library->ClientMinorVersion(), 0);
}

TEST_F(ClientLibraryBinding, ClientWithVersionFunctionsReportsItsOwnVersions) {
    auto library = FindOrLoadClientLibrary(FAKE_VERSIONED);
    EXPECT_EQ(library->ClientMajorVersion(), 7);
    EXPECT_EQ(library->ClientMinorVersion(), 3);
    EXPECT_EQ(library->GetLibraryName(), FAKE_VERSIONED);
}

TEST_F(ClientLibraryBinding, SameNameGivesTheSameBindingWithoutTouchingTheLibrary) {
    FakeClient fake(FAKE_VERSIONED);
    const int before = fake.MajorVersionCalls();
    auto first = FindOrLoadClientLibrary(FAKE_VERSIONED);
    EXPECT_EQ(fake.MajorVersionCalls(), before + 1);
    auto second = FindOrLoadClientLibrary(FAKE_VERSIONED);
    EXPECT_EQ(first, second);
    EXPECT_EQ(fake.MajorVersionCalls(), before + 1);
    EXPECT_EQ(ClientLibraryRegistry::Count(), 1);
}

TEST_F(ClientLibraryBinding, NamesDifferingInCaseAreTwoBindingsInLoadOrder) {
    auto upper = FindOrLoadClientLibrary("GDS32.DLL");
    auto lower = FindOrLoadClientLibrary("gds32.dll");
    EXPECT_NE(upper, lower);
    ASSERT_EQ(ClientLibraryRegistry::Count(), 2);
    EXPECT_EQ(ClientLibraryRegistry::Get(0), upper);
    EXPECT_EQ(ClientLibraryRegistry::Get(1), lower);
    EXPECT_EQ(upper->GetLibraryName(), "GDS32.DLL");
    // Both reach the real client library here.
    EXPECT_GE(upper->ClientMajorVersion(), 3);
}

TEST_F(ClientLibraryBinding, EntryPointsNeverBoundFailEvenWhenExported) {
    auto library = FindOrLoadClientLibrary(FAKE_VERSIONED);
    const std::string tail = std::string(" in ") + FAKE_VERSIONED;
    EXPECT_EQ(MessageOf<Exception>([&] { library->isc_add_user(nullptr, nullptr); }),
              "Can't find procedure isc_add_user" + tail);
    EXPECT_EQ(MessageOf<Exception>([&] { library->isc_cancel_blob(nullptr, nullptr); }),
              "Can't find procedure isc_cancel_blob" + tail);
    EXPECT_EQ(MessageOf<Exception>([&] { library->isc_prepare_transaction(nullptr, nullptr); }),
              "Can't find procedure isc_prepare_transaction" + tail);
}

TEST_F(ClientLibraryBinding, LibraryIsUnloadedWhenTheLastHolderLetsGo) {
    auto held = FindOrLoadClientLibrary(FAKE_NO_CLIENT_VERSION);
    EXPECT_TRUE(IsMapped(FAKE_NO_CLIENT_VERSION));
    ClientLibraryRegistry::Reset();
    EXPECT_TRUE(IsMapped(FAKE_NO_CLIENT_VERSION)) << "a component still holds it";
    held.reset();
    EXPECT_FALSE(IsMapped(FAKE_NO_CLIENT_VERSION));
}

TEST_F(ClientLibraryBinding, LoadSetsExtendedPrecisionAndKeepsTheOtherControlBits) {
#if defined(__x86_64__) || defined(__i386__)
    const std::uint16_t before = static_cast<std::uint16_t>(platform::FpuControlWord() & ~0x0300);
    platform::SetFpuControlWord(before);
    FindOrLoadClientLibrary(FAKE_VERSIONED);
    EXPECT_EQ(platform::FpuControlWord(), before | 0x0300);
    platform::ResetFpuToDefault();
#else
    GTEST_SKIP() << "no precision control on this processor";
#endif
}

TEST_F(ClientLibraryBinding, UnloadedBindingRefusesCallsInsteadOfReachingTheFreedLibrary) {
    auto library = FindOrLoadClientLibrary(FAKE_VERSIONED);
    library->UnloadLibrary();
    const std::string tail = std::string(" in ") + FAKE_VERSIONED;
    EXPECT_EQ(MessageOf<Exception>([&] { library->isc_vax_integer("\x01\x02", 2); }),
              "Can't find procedure isc_vax_integer" + tail);
    unsigned handle = 1;
    EXPECT_EQ(
        MessageOf<Exception>([&] { library->isc_service_detach(ThreadStatusVector(), &handle); }),
        "Can't find procedure isc_service_detach" + tail);
}
