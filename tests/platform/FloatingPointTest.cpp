#include "platform/FloatingPoint.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(FloatingPoint, ExtendedPrecisionSetsOnlyThePrecisionField) {
    std::uint16_t before = FpuControlWord();
    SetFpuControlWord(static_cast<std::uint16_t>(before & ~0x0300));
    SetExtendedPrecision();
    EXPECT_EQ(FpuControlWord(), static_cast<std::uint16_t>((before & ~0x0300) | 0x0300));
    ResetFpuToDefault();
    EXPECT_EQ(FpuControlWord(), DefaultFpuControlWord());
}

TEST(FloatingPoint, ResetRestoresTheStartupWordAfterAForeignChange) {
    // A library that masks nothing and rounds toward zero, as some do.
    SetFpuControlWord(0x0C40);
    ResetFpuToDefault();
    EXPECT_EQ(FpuControlWord(), DefaultFpuControlWord());
}
