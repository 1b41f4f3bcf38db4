#pragma once
// The command line of tovanel-restore, the checks of its options, and how
// they become the restore service's settings.

#include <optional>
#include <string>
#include <vector>

#include "restore/RestoreRequest.h"
#include "services/IB_Services.h"

namespace cli {

struct Options {
    std::string backup;  // "-": standard input
    std::string target;
    bool replace = false;
    // The server reads BACKUP itself, as a path on its own machine.
    bool backupOnServer = false;
    std::string server;  // HOST or HOST/PORT; empty: the local server
    std::string user;    // empty: ISC_USER, else SYSDBA
    std::string passwordFile;
    int pageSize = 0;  // 0: the backup's own
    int buffers = 0;
    bool verbose = false;
    bool json = false;
    // The restore options the flags of the option table set.
    TRestoreOptions restoreOptions;
    TRestoreAccessMode accessMode = TRestoreAccessMode::AsBackedUp;
    std::string fixFssData;
    std::string fixFssMetadata;
    std::string skipData;
    std::string includeData;
    TReplicaMode replica = TReplicaMode::AsBackedUp;
};

// What parsing came to: options to run with, or an exit code and the text
// to print (help on stdout with 0, a usage error on stderr with 2).
struct ParseResult {
    std::optional<Options> options;
    int exitCode = 0;
    std::string text;
};

ParseResult ParseCommandLine(int argc, const char* const* argv);

// The checks of the options among themselves: an empty text when they may
// go ahead, else why not. The files are the engine's to check.
std::string CheckOptions(const Options& options);

// The restore service's settings from the options (the connection apart).
void ApplyRestoreSettings(const Options& options, TpFIBRestoreService& service);

// The options that need a newer server than Firebird 3, by their names.
std::vector<restore::ServerNeed> ServerNeeds(const Options& options);

}  // namespace cli
