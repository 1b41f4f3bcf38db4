#pragma once
// What a front end asks the restore for: where the backup comes from, where
// the database goes, and the checks that need no server.

#include <string>
#include <variant>
#include <vector>

#include "restore/BackupSource.h"

namespace restore {

// A backup the server opens itself: a path in the server's own terms.
struct ServerFile {
    std::string path{};
};

// A backup this process reads and feeds to the server. `name` is what it
// was opened from ("-" for standard input), for the checks and for messages.
struct ClientStream {
    IBackupSource* source = nullptr;  // not owned
    std::string name{};
};

using BackupInput = std::variant<ServerFile, ClientStream>;

// An option of the request that only a newer server takes, by the name the
// front end knows it by.
struct ServerNeed {
    std::string option{};
    int majorVersion = 0;
};

struct RestoreRequest {
    BackupInput backup{};
    std::string targetPath{};
    // An existing target is moved aside and replaced; without this it is
    // refused before anything is touched.
    bool replaceExisting = true;
    // The target lies on another machine's server: its files are not ours
    // to look at or move, so the server alone decides.
    bool targetIsRemote = false;
    // With no file at the target before, what a restore the server reports
    // failed leaves there (a database in maintenance mode) is removed too.
    bool removeFailedNewTarget = false;
    // Checked against the server's version once connected, before anything
    // is touched (EServerTooOld).
    std::vector<ServerNeed> needs{};
};

inline bool ReadByClient(const RestoreRequest& request) {
    return std::holds_alternative<ClientStream>(request.backup);
}

// The request with the paths the local server is given made absolute (the
// server would resolve a relative one against its own folder): the target
// and a backup the server reads. Paths on another machine stay as given.
RestoreRequest WithAbsolutePaths(const RestoreRequest& request);

// The checks before anything is touched, for a local target: the backup
// the server would read is a file, the target's folder exists, the target
// is neither a folder nor the backup itself, and it exists only when it may
// be replaced. Raises the matching ERequestRefused; a remote target's paths
// are the server's, so nothing is checked there.
void CheckRequest(const RestoreRequest& request);

}  // namespace restore
