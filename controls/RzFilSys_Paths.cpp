// Drives and paths: which volumes get a node, their captions, network
// paths, shortened folder labels; and the desktop shell and volume notices
// the controls rely on.

#include <QApplication>
#include <QCollator>
#include <QDesktopServices>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFontMetrics>
#include <QSocketNotifier>
#include <QStyle>
#include <QUrl>

#include "controls/RzFilSys.h"
#include "controls/RzFilSysShell.h"
#include "platform/fs/MountTable.h"

using platform::fs::Drive;
using platform::fs::Files;
using platform::fs::PathRules;
using platform::fs::PathStyle;

namespace {

bool KindIsKnown(int kind) {
    return kind >= 0 && kind <= 6 && kind != platform::fs::dkNoRootDir;
}

// The root as captions show it: "D:" for a drive letter, the mount point
// otherwise.
std::string ShownRoot(const PathRules& rules, const std::string& root) {
    if (rules.Style() == PathStyle::Windows)
        return platform::fs::AsciiUpper(std::string_view(root).substr(0, 2));
    return rules.WithoutTrailingSeparator(root);
}

int KindOfRoot(const std::string& root) {
    const PathRules& rules = Files().Rules();
    for (const Drive& d : Files().Drives())
        if (rules.SameName(rules.WithTrailingSeparator(d.root), rules.WithTrailingSeparator(root)))
            return d.kind;
    return platform::fs::dkUnknown;
}

// Lower case by the locale, then capitals after each separator.
std::string CapitaliseShare(const std::string& text, const PathRules& rules) {
    std::string lower = QString::fromStdString(text).toLower().toStdString();
    for (std::size_t i = 1; i < lower.size(); ++i)
        if (rules.IsSeparator(lower[i - 1]) && lower[i] >= 'a' && lower[i] <= 'z')
            lower[i] = static_cast<char>(lower[i] - 'a' + 'A');
    return lower;
}

}  // namespace

std::vector<Drive> AvailableDrives(TDriveTypes types) {
    std::vector<Drive> result;
    for (const Drive& d : Files().Drives()) {
        const int kind = d.kind & 0x7F;
        if (KindIsKnown(kind) && !(types & (1u << kind)))
            continue;
        result.push_back(d);
    }
    return result;
}

std::uint32_t DriveMask(const std::vector<Drive>& drives) {
    std::uint32_t mask = 0;
    for (const Drive& d : drives) {
        if (d.root.size() < 2 || d.root[1] != ':')
            continue;
        char letter = platform::fs::AsciiUpper(d.root.substr(0, 1))[0];
        if (letter >= 'A' && letter <= 'Z')
            mask |= 1u << (letter - 'A');
    }
    return mask;
}

std::string UncRoot(const std::string& root) {
    const PathRules& rules = Files().Rules();
    std::string universal = Files().UniversalName(rules.WithTrailingSeparator(root));
    if (!rules.IsNetworkPath(universal))
        return {};
    // An export path is case-sensitive; only the shares of the two-slash
    // form are shown capitalised.
    if (rules.Style() == PathStyle::Posix && universal.rfind("//", 0) != 0)
        return rules.WithoutTrailingSeparator(universal);
    return CapitaliseShare(std::string(rules.DrivePortion(universal)), rules);
}

TVolumeCaption VolumeCaption(const std::string& root, TNetworkVolumeFormat format) {
    return VolumeCaption(root, format, KindOfRoot(root));
}

TVolumeCaption VolumeCaption(const std::string& root, TNetworkVolumeFormat format, int kind) {
    const PathRules& rules = Files().Rules();
    const std::string shown = ShownRoot(rules, root);
    auto info = Files().ReadVolume(rules.WithTrailingSeparator(root));
    if (!info)
        return {"(" + shown + ")", kUnreadableSerial};
    std::string label = info->label;
    if (!label.empty()) {
        label = QString::fromStdString(label).toLower().toStdString();
        if (label[0] >= 'a' && label[0] <= 'z')
            label[0] = static_cast<char>(label[0] - 'a' + 'A');
    }
    TVolumeCaption result;
    result.serial = info->serial;
    if (kind == platform::fs::dkRemote) {
        std::string unc = UncRoot(root);
        std::string server;
        if (unc.size() > 2 && rules.IsSeparator(unc[0]) && rules.IsSeparator(unc[1])) {
            std::size_t end = 2;
            while (end < unc.size() && !rules.IsSeparator(unc[end])) ++end;
            server = unc.substr(2, end - 2);
        } else {
            server = unc.substr(0, unc.find(':'));
        }
        switch (format) {
            case nvfExplorer:
                result.caption = label + " on '" + server + "' (" + shown + ")";
                break;
            case nvfUNC:
                result.caption = unc + " (" + shown + ")";
                break;
            case nvfVolumeOnly:
                result.caption = label + " (" + shown + ")";
                break;
        }
        return result;
    }
    result.caption = label + " (" + shown + ")";
    return result;
}

std::string MapUncPath(const std::string& path) {
    const PathRules& rules = Files().Rules();
    if (rules.Style() == PathStyle::Windows) {
        if (path.size() < 2 || (path[0] != '\\' && path[1] != '\\'))
            return path;
        // The backslash that ends the share name, counted from 1.
        std::size_t p = 2;
        int seen = 0;
        for (std::size_t i = 2; i < path.size(); ++i) {
            if (path[i] == '\\' && ++seen == 2) {
                p = i + 1;
                break;
            }
        }
        const std::string head = platform::fs::AsciiUpper(path.substr(0, p));
        for (const Drive& d : Files().Drives()) {
            char letter = platform::fs::AsciiUpper(d.root.substr(0, 1))[0];
            if (letter < 'B' || letter > 'Z')
                continue;
            std::string root = std::string(1, letter) + ":\\";
            if (platform::fs::AsciiUpper(Files().UniversalName(root)) == head)
                return std::string(1, letter) + ":" + path.substr(p - 1);
        }
        return {};
    }
    if (!rules.IsNetworkPath(path))
        return path;
    const bool share = path.rfind("//", 0) == 0;
    for (const Drive& d : Files().Drives()) {
        if (d.kind != platform::fs::dkRemote)
            continue;
        std::string universal = Files().UniversalName(d.root);
        while (!universal.empty() && universal.back() == '/') universal.pop_back();
        if (universal.empty() || path.size() <= universal.size() || path[universal.size()] != '/')
            continue;
        std::string head = path.substr(0, universal.size());
        bool same = share ? platform::fs::AsciiUpper(head) == platform::fs::AsciiUpper(universal)
                          : head == universal;
        if (!same)
            continue;
        std::string root = rules.WithoutTrailingSeparator(d.root);
        std::string rest = path.substr(universal.size());
        return root == "/" ? rest : root + rest;
    }
    return {};
}

std::string ShortenPathForLabel(const std::string& path,
                                const std::function<int(const std::string&)>& textWidth,
                                int width) {
    const PathRules& rules = Files().Rules();
    const char sep = rules.Separator();
    std::size_t last = path.size();
    while (last > 0 && !rules.IsSeparator(path[last - 1])) --last;
    const std::string name = path.substr(last);
    std::string folder = path.substr(0, last);
    std::string drive;
    if (folder.size() >= 2 && folder[1] == ':') {
        drive = folder.substr(0, 2);
        folder.erase(0, 2);
    }
    const std::string ellipsis = std::string("...") + sep;
    const std::string rootEllipsis = std::string(1, sep) + ellipsis;
    std::string result = path;
    while ((!folder.empty() || !drive.empty()) && textWidth(result) > width) {
        if (folder == rootEllipsis) {
            drive.clear();
            folder = ellipsis;
        } else if (!folder.empty()) {
            if (folder == std::string(1, sep)) {
                folder.clear();
            } else {
                const bool leading = rules.IsSeparator(folder[0]);
                if (leading)
                    folder.erase(0, 1);
                if (folder.rfind(ellipsis, 0) == 0)
                    folder.erase(0, ellipsis.size());
                std::size_t next = 0;
                while (next < folder.size() && !rules.IsSeparator(folder[next])) ++next;
                folder = next < folder.size() ? ellipsis + folder.substr(next + 1) : std::string();
                if (leading)
                    folder.insert(folder.begin(), sep);
            }
        } else {
            drive.clear();
        }
        result = drive + folder + name;
    }
    return result;
}

std::string ShortenPathForLabel(const std::string& path, const QFont& font, int width) {
    QFontMetrics metrics(font);
    return ShortenPathForLabel(
        path,
        [&](const std::string& text) {
            return metrics.horizontalAdvance(QString::fromStdString(text));
        },
        width);
}

int CompareNamesForDisplay(const std::string& a, const std::string& b) {
    return DisplayNameCollator().compare(QString::fromStdString(a), QString::fromStdString(b));
}

// ---------------------------------------------------------------------------
// Volume notices

TRzDeviceNotices::TRzDeviceNotices(QObject* parent) : QObject(parent) {}
TRzDeviceNotices::~TRzDeviceNotices() = default;

TRzDeviceNotices& TRzDeviceNotices::Instance() {
    // Lives as long as the application object, so that its notifier goes
    // before the event loop it is registered with.
    static QPointer<TRzDeviceNotices> instance;
    if (!instance)
        instance = new TRzDeviceNotices(QCoreApplication::instance());
    return *instance;
}

void TRzDeviceNotices::WatchSystem() {
    if (watch_)
        return;
    watch_ = std::make_unique<platform::fs::MountWatch>();
    if (!watch_->IsOpen())
        return;
    auto* notifier = new QSocketNotifier(watch_->Fd(), QSocketNotifier::Exception, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { Notify(); });
}

// ---------------------------------------------------------------------------
// The desktop shell

namespace {

// Whether a path is where a network share is mounted. The desktop's icon
// look-up stats what it is given, and the stat of a share's mount point
// waits for its server, however long that takes.
bool IsShareMountPoint(platform::fs::ShareMounts& shares, const std::string& path) {
    const std::string folder = Files().Rules().WithoutTrailingSeparator(path);
    for (const platform::fs::MountEntry& m : shares.Current())
        if (m.mountPoint == folder)
            return true;
    return false;
}

class TQtShell final : public TShellServices {
  public:
    QIcon SmallIcon(const std::string& path, bool open) override {
        QStyle* style = QApplication::style();
        if (path.empty())
            return style->standardIcon(open ? QStyle::SP_DirOpenIcon : QStyle::SP_DirIcon);
        if (IsShareMountPoint(shareMounts_, path))
            return style->standardIcon(QStyle::SP_DriveNetIcon);
        QFileInfo info(QString::fromStdString(path));
        if (open && info.isDir() && !info.isRoot())
            return style->standardIcon(QStyle::SP_DirOpenIcon);
        return provider_.icon(info);
    }
    QIcon DriveIcon(int kind) override {
        QStyle::StandardPixmap icon = QStyle::SP_DriveHDIcon;
        switch (kind) {
            case platform::fs::dkRemovable:
                icon = QStyle::SP_DriveFDIcon;
                break;
            case platform::fs::dkRemote:
                icon = QStyle::SP_DriveNetIcon;
                break;
            case platform::fs::dkCdRom:
                icon = QStyle::SP_DriveCDIcon;
                break;
            default:
                break;
        }
        return QApplication::style()->standardIcon(icon);
    }
    std::string DisplayName(const std::string& path) override {
        // A drive comes with its root's separator, which names no folder.
        const std::string folder = Files().Rules().WithoutTrailingSeparator(path);
        const QString name = QFileInfo(QString::fromStdString(folder)).fileName();
        return name.isEmpty() ? folder : name.toStdString();
    }
    bool OpenDocument(const std::string& path) override {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
    }

  private:
    QFileIconProvider provider_;
    platform::fs::ShareMounts shareMounts_;
};

TQtShell* desktopShell = nullptr;

TShellServices& DesktopShell() {
    if (!desktopShell) {
        desktopShell = new TQtShell;
        // Its icons go with the application, not after it.
        qAddPostRoutine([] {
            delete desktopShell;
            desktopShell = nullptr;
        });
    }
    return *desktopShell;
}

core::Seam<TShellServices> shellSeam(DesktopShell);

}  // namespace

TShellServices& Shell() {
    return shellSeam.Get();
}

TShellServices* SetShell(TShellServices* shell) {
    return shellSeam.Install(shell);
}
