#pragma once
// A shell for tests: plain coloured icons, recorded look-ups and opens.

#include <QPixmap>
#include <map>
#include <string>
#include <vector>

#include "controls/RzFilSysShell.h"

class TFakeShell : public TShellServices {
  public:
    QIcon SmallIcon(const std::string& path, bool open = false) override {
        lookups.push_back(path);
        ++lookupCount[path];
        QPixmap pixmap(16, 16);
        pixmap.fill(open ? Qt::yellow : path.empty() ? Qt::darkYellow : Qt::blue);
        return QIcon(pixmap);
    }
    QIcon DriveIcon(int kind) override {
        driveIconKinds.push_back(kind);
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::gray);
        return QIcon(pixmap);
    }
    std::string DisplayName(const std::string& path) override {
        auto it = displayNames.find(path);
        return it != displayNames.end() ? it->second : "Removable Disk";
    }
    bool OpenDocument(const std::string& path) override {
        opened.push_back(path);
        return openSucceeds;
    }

    std::vector<std::string> lookups;
    std::vector<int> driveIconKinds;
    std::map<std::string, int> lookupCount;
    std::map<std::string, std::string> displayNames;
    std::vector<std::string> opened;
    bool openSucceeds = true;
};
