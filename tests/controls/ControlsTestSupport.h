#pragma once
// Real temporary folders, and the fakes every control test installs.

#include <QApplication>
#include <filesystem>
#include <string>
#include <vector>

#include "controls/RzFilSys.h"
#include "fakes/FakeShell.h"
#include "fakes/FakeWindowLayer.h"
#include "tests/support/Files.h"

using test_support::TempFolder;

// Installs the fake window layer and shell, clears the icon cache and
// puts the current directory back after each test.
class ControlsTest : public ::testing::Test {
  protected:
    ControlsTest()
        : savedDir_(std::filesystem::current_path()), layerGuard_(window), shellGuard_(shell) {
        TExtensionIconCache::Instance().Clear();
    }
    ~ControlsTest() override {
        std::error_code ignored;
        std::filesystem::current_path(savedDir_, ignored);
        TExtensionIconCache::Instance().Clear();
    }

    static std::vector<std::string> ItemsOf(const TFileListBox& list) {
        std::vector<std::string> items;
        for (int i = 0; i < list.Count(); ++i) items.push_back(list.Items(i));
        return items;
    }

    platform::FakeWindowLayer window;
    TFakeShell shell;

  private:
    std::filesystem::path savedDir_;
    platform::ScopedWindowLayer layerGuard_;
    ScopedShell shellGuard_;
};
