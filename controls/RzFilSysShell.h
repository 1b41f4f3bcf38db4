#pragma once
// What the browsing controls ask of the desktop shell: small icons of
// files, folders and drives, the name the desktop shows for a drive, and
// opening a document with its program. The process uses one instance;
// tests install a fake that counts the look-ups.

#include <QIcon>
#include <string>

#include "core/Seam.h"

class TShellServices {
  public:
    virtual ~TShellServices() = default;
    // The small icon of a file, folder or drive; the generic folder for an
    // empty path. `open` asks for the open variant of a folder.
    virtual QIcon SmallIcon(const std::string& path, bool open = false) = 0;
    // The icon of a drive of a kind (a platform::fs::DriveKind), found
    // without asking the volume: a disc, a removable medium or a share may
    // not answer, and the tree must not wait for it.
    virtual QIcon DriveIcon(int kind) = 0;
    // The name the desktop shows for a drive or folder.
    virtual std::string DisplayName(const std::string& path) = 0;
    // Opens a document with the program the desktop associates with it.
    virtual bool OpenDocument(const std::string& path) = 0;
};

// The process's shell; the desktop's own until another is installed.
TShellServices& Shell();
TShellServices* SetShell(TShellServices* shell);

using ScopedShell = core::ScopedSeam<TShellServices, SetShell>;
