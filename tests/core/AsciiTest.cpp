#include "core/Ascii.h"

#include <gtest/gtest.h>

namespace {

TEST(Ascii, TrimTakesSpacesAndControlCharactersAtBothEndsOnly) {
    EXPECT_EQ(core::Trim(" \t\r\n\x01 a b\t\r\n"), "a b");
    EXPECT_EQ(core::Trim(" \t "), "");
}

TEST(Ascii, CaseFoldingLeavesEverythingButAsciiLettersAlone) {
    EXPECT_EQ(core::AsciiUpper("gds32.dll 가é"), "GDS32.DLL 가é");
    EXPECT_EQ(core::AsciiLower("GDS32.DLL 가É"), "gds32.dll 가É");
}

}  // namespace
