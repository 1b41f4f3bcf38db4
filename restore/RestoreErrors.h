#pragma once
// The restore's own refusals. Each carries the facts a front end needs to
// word it in its own language; the message is the English wording.

#include <string>
#include <vector>

#include "core/Exceptions.h"

namespace restore {

class ERestoreError : public EDatabaseError {
  public:
    ERestoreError(std::string message, std::string path)
        : EDatabaseError(std::move(message)), path_(std::move(path)) {}
    // The database file the refusal is about.
    const std::string& Path() const noexcept { return path_; }

  private:
    std::string path_;
};

// A database engine has the target open: moving it would cut it loose from
// the running server, and the server would refuse to restore over it.
class ETargetInUse : public ERestoreError {
  public:
    explicit ETargetInUse(const std::string& path)
        : ERestoreError("The target database is in use by a database server: " + path, path) {}
};

// Whether a database engine has the target open could not be found out:
// it is refused as a held one would be, for the reason given.
class ETargetNotExamined : public ERestoreError {
  public:
    ETargetNotExamined(const std::string& path, std::string reason)
        : ERestoreError("Whether a database server has the target open could not be checked (" +
                            reason + "); nothing was restored: " + path,
                        path),
          reason_(std::move(reason)) {}
    const std::string& Reason() const noexcept { return reason_; }

  private:
    std::string reason_;
};

// The request itself is refused before anything is touched: each front end
// words these in its own language from the kind and the path.
class ERequestRefused : public ERestoreError {
  public:
    using ERestoreError::ERestoreError;
};

// The target exists and the caller did not ask to replace it.
class ETargetExists : public ERequestRefused {
  public:
    explicit ETargetExists(const std::string& path)
        : ERequestRefused("The target database already exists: " + path, path) {}
};

// The target names a folder.
class ETargetIsFolder : public ERequestRefused {
  public:
    explicit ETargetIsFolder(const std::string& path)
        : ERequestRefused("The target is a folder: " + path, path) {}
};

// The folder the target would go in does not exist; Path() is that folder.
class ETargetFolderMissing : public ERequestRefused {
  public:
    explicit ETargetFolderMissing(const std::string& folder)
        : ERequestRefused("The target folder does not exist: " + folder, folder) {}
};

// The target is the very backup file that would be restored.
class ETargetIsBackup : public ERequestRefused {
  public:
    explicit ETargetIsBackup(const std::string& path)
        : ERequestRefused("The target is the backup file itself: " + path, path) {}
};

// A backup the local server would read is not there; Path() is the backup.
class EBackupNotFound : public ERequestRefused {
  public:
    explicit EBackupNotFound(const std::string& path)
        : ERequestRefused("The backup file does not exist: " + path, path) {}
};

// A backup the local server would read names a folder.
class EBackupIsFolder : public ERequestRefused {
  public:
    explicit EBackupIsFolder(const std::string& path)
        : ERequestRefused("The backup is a folder, not a file: " + path, path) {}
};

// The server is older than an option of the request needs.
class EServerTooOld : public ERequestRefused {
  public:
    EServerTooOld(const std::string& path, std::string version, std::string option, int majorNeeded)
        : ERequestRefused("The server (" + version + ") is too old for " + option +
                              ", which needs Firebird " + std::to_string(majorNeeded) + " or later",
                          path),
          version_(std::move(version)),
          option_(std::move(option)),
          majorNeeded_(majorNeeded) {}
    const std::string& Version() const noexcept { return version_; }
    const std::string& Option() const noexcept { return option_; }
    int MajorNeeded() const noexcept { return majorNeeded_; }

  private:
    std::string version_;
    std::string option_;
    int majorNeeded_;
};

// The existing target could not be moved aside, so the restore never started.
class ETargetNotMoved : public ERestoreError {
  public:
    ETargetNotMoved(const std::string& path, std::string reason)
        : ERestoreError("The existing target database could not be moved aside (" + reason +
                            "); nothing was restored: " + path,
                        path),
          reason_(std::move(reason)) {}
    const std::string& Reason() const noexcept { return reason_; }

  private:
    std::string reason_;
};

// The server reported the restore finished, but the new database is not
// online: the backup did not restore completely.
class ERestoreUnfinished : public ERestoreError {
  public:
    ERestoreUnfinished(const std::string& path, std::string attributes)
        : ERestoreError("The backup did not restore completely (the backup file may be damaged)",
                        path),
          attributes_(std::move(attributes)) {}
    // The header attributes the server gave, or "" when it gave none.
    const std::string& Attributes() const noexcept { return attributes_; }

  private:
    std::string attributes_;
};

// The caller asked to stop, before the server started restoring or while
// the server could still be made to abandon the restore; nothing was
// restored and the original is back (or was never moved).
class ERestoreCancelled : public ERestoreError {
  public:
    ERestoreCancelled(const std::string& path, bool started)
        : ERestoreError(started ? "Interrupted; the server abandoned the restore and nothing was "
                                  "restored"
                                : "Interrupted before the restore started; nothing was restored",
                        path),
          started_(started) {}
    // Whether the server had begun: its input was ended to stop it.
    bool Started() const noexcept { return started_; }

  private:
    bool started_;
};

// The caller stopped waiting while the server still restores (the server
// cannot be told to stop). Nothing is moved back: the server still writes
// the target, and the original stays at its aside path.
class ERestoreAbandoned : public ERestoreError {
  public:
    explicit ERestoreAbandoned(const std::string& path)
        : ERestoreError("Stopped waiting; the server goes on restoring into " + path, path) {}
};

// Why the backup cannot be read. Each carries the backup's path as given
// ("-" for standard input); unlike the refusals above, none is about the
// database file.
class EBackupError : public EDatabaseError {
  public:
    EBackupError(std::string message, std::string path)
        : EDatabaseError(std::move(message)), path_(std::move(path)) {}
    const std::string& Path() const noexcept { return path_; }

  private:
    std::string path_;
};

// The backup file could not be opened; `Reason` is the system's.
class EBackupNotOpened : public EBackupError {
  public:
    EBackupNotOpened(const std::string& path, std::string reason)
        : EBackupError("The backup file cannot be opened (" + reason + "): " + path, path),
          reason_(std::move(reason)) {}
    const std::string& Reason() const noexcept { return reason_; }

  private:
    std::string reason_;
};

// The backup is an archive of several files, and which one is the backup is
// not for the restore to guess. Raised before any data is handed out when
// the backup is a file; from a pipe, only once the first member has been
// read, naming the members seen so far.
class EBackupArchiveMembers : public EBackupError {
  public:
    EBackupArchiveMembers(const std::string& path, std::vector<std::string> members)
        : EBackupError(
              "The backup archive holds more than one file (" + Joined(members) + "): " + path,
              path),
          members_(std::move(members)) {}
    const std::vector<std::string>& Members() const noexcept { return members_; }

  private:
    static std::string Joined(const std::vector<std::string>& names) {
        std::string text;
        for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
        return text;
    }
    std::vector<std::string> members_;
};

// Nothing to restore: an empty file, or an archive with no file in it.
class EBackupEmpty : public EBackupError {
  public:
    EBackupEmpty(const std::string& path, bool archive)
        : EBackupError(archive ? "The backup archive holds no file: " + path
                               : "The backup is empty: " + path,
                       path),
          archive_(archive) {}
    bool IsArchive() const noexcept { return archive_; }

  private:
    bool archive_;
};

// Reading or decompressing failed: damaged or cut-short data, or an I/O
// error. `Reason` says which, in the decompressor's or the system's words.
class EBackupUnreadable : public EBackupError {
  public:
    EBackupUnreadable(const std::string& path, std::string reason)
        : EBackupError("The backup cannot be read (" + reason + "): " + path, path),
          reason_(std::move(reason)) {}
    const std::string& Reason() const noexcept { return reason_; }

  private:
    std::string reason_;
};

// Reading was stopped because the caller asked (IBackupSource::Interrupt);
// the caller knows which backup, so the path is empty.
class EBackupStopped : public EBackupError {
  public:
    EBackupStopped() : EBackupError("Reading the backup was stopped", {}) {}
};

}  // namespace restore
