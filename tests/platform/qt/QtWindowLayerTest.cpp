#include "platform/qt/QtWindowLayer.h"

#include <gtest/gtest.h>

using platform::MessageBoxText;

TEST(QtWindowLayer, EveryCarriageReturnBreaksALine) {
    // The completion text separates its two parts with two bare CRs: one
    // empty line between them, as the operator is meant to see it.
    EXPECT_EQ(MessageBoxText("done.\r\r         again"), QStringLiteral("done.\n\n         again"));
}

TEST(QtWindowLayer, CrLfIsOneBreak) {
    EXPECT_EQ(MessageBoxText("Main_Form.pFIBRestoreService1:\r\nUnable to complete.\r\n"),
              QStringLiteral("Main_Form.pFIBRestoreService1:\nUnable to complete.\n"));
}

TEST(QtWindowLayer, KoreanTextSurvives) {
    EXPECT_EQ(MessageBoxText("복구완료"), QStringLiteral("복구완료"));
}
