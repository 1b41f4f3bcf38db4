// The widgets need an application object; tests run without a screen.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "tests/support/NamePrefix.h"

int main(int argc, char** argv) {
    test_support::ScopedNamePrefix prefix;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
