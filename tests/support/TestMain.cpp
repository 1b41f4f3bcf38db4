// The main of every test program that has no set-up of its own.
#include <gtest/gtest.h>

#include "core/Locale.h"
#include "tests/support/NamePrefix.h"

int main(int argc, char** argv) {
    // As the programs do: restores of names outside ASCII need it.
    core::UseUtf8CharacterType();
    test_support::ScopedNamePrefix prefix;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
