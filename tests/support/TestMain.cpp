// The main of every test program that has no set-up of its own.
#include <gtest/gtest.h>

#include "tests/support/NamePrefix.h"

int main(int argc, char** argv) {
    test_support::ScopedNamePrefix prefix;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
