#include "platform/DynamicLibrary.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(DynamicLibrary, WindowsClientNamesFallBackToTheFirebirdClientInAnyCase) {
    for (const char* name : {"GDS32.DLL", "gds32.dll", "FbClient.Dll"})
        EXPECT_EQ(LibraryCandidates(name), (std::vector<std::string>{name, "libfbclient.so.2"}));
    EXPECT_EQ(LibraryCandidates("libother.so"), std::vector<std::string>{"libother.so"});
    EXPECT_EQ(LibraryCandidates("gds32.dll.bak"), std::vector<std::string>{"gds32.dll.bak"});
}

TEST(DynamicLibrary, AMissingLibraryLeavesItsNameInTheLastError) {
    EXPECT_EQ(DynamicLibrary::Load("libno-such-library-here.so"), nullptr);
    EXPECT_NE(LastError().code, 0u);
    EXPECT_NE(LastError().text.find("libno-such-library-here.so"), std::string::npos);
}

TEST(DynamicLibrary, AMissingSymbolIsNamedInTheLastError) {
    auto library = DynamicLibrary::Load("libc.so.6");
    ASSERT_NE(library, nullptr);
    EXPECT_NE(library->Symbol("strlen"), nullptr);
    EXPECT_EQ(library->Symbol("no_such_symbol_here"), nullptr);
    EXPECT_EQ(LastError().code, 127u);
    EXPECT_NE(LastError().text.find("no_such_symbol_here"), std::string::npos);
}
