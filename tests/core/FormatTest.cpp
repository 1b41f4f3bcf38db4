#include "core/Format.h"

#include <gtest/gtest.h>

#include "core/Exceptions.h"

TEST(Format, SubstitutesTextAndIntegers) {
    EXPECT_EQ(Format("Can't load library %s ", {"gds32.dll"}), "Can't load library gds32.dll ");
    EXPECT_EQ(Format("Unknown SQL Data type (%d).", {-7}), "Unknown SQL Data type (-7).");
    EXPECT_EQ(Format("%d%%", {50}), "50%");
}

TEST(Format, HexWithPrecisionShowsTheThirtyTwoBitPattern) {
    EXPECT_EQ(Format("(Windows error %d [$%.8x])", {5, 5}), "(Windows error 5 [$00000005])");
    EXPECT_EQ(Format("%.8x", {-1}), "ffffffff");
    EXPECT_EQ(Format("%X", {255}), "FF");
}

TEST(Format, SurplusArgumentsAreIgnored) {
    EXPECT_EQ(Format("Server Name Missing", {"x", 3}), "Server Name Missing");
    EXPECT_EQ(Format("%s", {"a", "b"}), "a");
}

TEST(Format, MissingOrMismatchedArgumentRaisesConvertError) {
    EXPECT_THROW(Format("%s and %s", {"one"}), EConvertError);
    EXPECT_THROW(Format("%d", {"text"}), EConvertError);
    EXPECT_THROW(Format("%s", {12}), EConvertError);
    EXPECT_THROW(Format("trailing %", {}), EConvertError);
}

TEST(Format, WidthAndAlignment) {
    EXPECT_EQ(Format("[%5d]", {42}), "[   42]");
    EXPECT_EQ(Format("[%-4s]", {"ab"}), "[ab  ]");
    EXPECT_EQ(Format("[%05d]", {-42}), "[-0042]");
    EXPECT_EQ(Format("%d", {static_cast<long long>(INT64_MIN)}), "-9223372036854775808");
}
