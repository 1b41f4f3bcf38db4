#include "core/Locale.h"

#include <langinfo.h>

#include <gtest/gtest.h>

#include <clocale>
#include <string>

TEST(Locale, ThePlainCharacterTypeBecomesUtf8AndNothingElseChanges) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
    core::UseUtf8CharacterType();
    EXPECT_STREQ(nl_langinfo(CODESET), "UTF-8");
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    EXPECT_STREQ(std::setlocale(LC_MESSAGES, nullptr), "C");
    std::setlocale(LC_ALL, before.c_str());
}
