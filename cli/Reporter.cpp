#include "cli/Reporter.h"

#include "restore/RestoreErrors.h"

namespace cli {

std::string Describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const restore::ETargetExists& e) {
        return "target database already exists (use --replace to replace it): " + e.Path();
    } catch (const restore::ETargetIsFolder& e) {
        return "target is a folder: " + e.Path();
    } catch (const restore::ETargetFolderMissing& e) {
        return "target folder not found: " + e.Path();
    } catch (const restore::ETargetIsBackup& e) {
        return "target is the backup file itself: " + e.Path();
    } catch (const restore::EBackupNotFound& e) {
        return "backup file not found on the server's machine: " + e.Path();
    } catch (const restore::EBackupIsFolder& e) {
        return "backup is a folder, not a file: " + e.Path();
    } catch (const restore::EServerTooOld& e) {
        return "the server is " + e.Version() + ", and " + e.Option() + " needs Firebird " +
               std::to_string(e.MajorNeeded()) + " or later";
    } catch (const restore::EBackupNotOpened& e) {
        return "cannot open the backup file (" + e.Reason() + "): " + e.Path();
    } catch (const restore::EBackupArchiveMembers& e) {
        std::string names;
        for (const std::string& name : e.Members()) names += (names.empty() ? "" : ", ") + name;
        return "the archive holds more than one file (" + names +
               "); extract the backup and restore that: " + e.Path();
    } catch (const restore::EBackupEmpty& e) {
        return (e.IsArchive() ? "the archive holds no file: " : "the backup is empty: ") + e.Path();
    } catch (const restore::EBackupUnreadable& e) {
        return "cannot read the backup (" + e.Reason() + "): " + e.Path();
    } catch (const restore::ERestoreCancelled& e) {
        return e.Started() ? "interrupted: the server abandoned the restore; nothing was restored"
                           : "interrupted before the restore started; nothing was restored";
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

int ExitCode(const restore::FailureFacts& facts) {
    if (facts.refused)
        return 2;
    if (facts.fate == restore::OriginalFate::KeptAside)
        return 3;
    return facts.cancelled ? 4 : 1;
}

}  // namespace cli
