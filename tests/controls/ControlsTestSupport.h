#pragma once
// Real temporary folders, and the fakes every control test installs.

#include <unistd.h>

#include <QApplication>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "controls/RzFilSys.h"
#include "controls/RzFilSysFakeShell.h"
#include "platform/FakeWindowLayer.h"

class TempFolder {
  public:
    TempFolder() {
        static int counter = 0;
        root_ = std::filesystem::temp_directory_path() /
                ("controls-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_);
        root_ = std::filesystem::canonical(root_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::permissions(root_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(root_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string Path(const std::string& relative = {}) const {
        return relative.empty() ? root_.string() : (root_ / relative).string();
    }
    std::string File(const std::string& relative, const std::string& content = {}) const {
        auto path = root_ / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << content;
        return path.string();
    }
    std::string Folder(const std::string& relative) const {
        std::filesystem::create_directories(root_ / relative);
        return (root_ / relative).string();
    }

  private:
    std::filesystem::path root_;
};

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
