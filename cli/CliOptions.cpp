#include "cli/CliOptions.h"

#include <CLI/CLI.hpp>

#include <map>

namespace cli {

namespace {

const char* const kDescription =
    "Restores a database from a backup file through the database server's services\n"
    "manager. The backup is read here and fed to the server, so it may lie on this\n"
    "machine, be unreadable for the server's account, and be compressed (gzip, bzip2,\n"
    "xz, zstd, lz4) or a zip or tar archive of one file; \"-\" reads standard input.\n"
    "An existing target is replaced only with --replace: it is moved aside first and\n"
    "put back if the restore fails or the restored database is not confirmed online.";

const char* const kFooter =
    "Password: from ISC_PASSWORD, from --password-file, or asked on the terminal.\n"
    "It is never taken from the command line.\n"
    "\n"
    "Interrupt (Ctrl-C, SIGTERM): the first ends the backup's input, the server\n"
    "abandons the restore and the original is put back; with --backup-on-server the\n"
    "server cannot be stopped, so the restore is waited for. A second interrupt\n"
    "leaves at once and says where the original is.\n"
    "\n"
    "Exit status:\n"
    "  0  restored\n"
    "  1  the restore failed; the original, if there was one, is back in place\n"
    "  2  usage error or bad input; nothing was touched\n"
    "  3  the restore failed and the original could not be put back (the message\n"
    "     says where it is)\n"
    "  4  cancelled; the original is back in place (or was never touched)";

// The restore options that are flags, each one member of the service's set.
struct FlagOption {
    const char* name;
    const char* help;
    TRestoreOption member;
};
constexpr FlagOption kFlagOptions[] = {
    {"--deactivate-indexes", "restore the indexes inactive, without building them",
     TRestoreOption::DeactivateIndexes},
    {"--no-shadow", "restore without the database's shadow files", TRestoreOption::NoShadow},
    {"--no-validity", "restore without the validity constraints (CHECK, NOT NULL)",
     TRestoreOption::NoValidityCheck},
    {"--one-at-a-time", "commit after each table", TRestoreOption::OneRelationAtATime},
    {"--use-all-space", "fill the data pages completely, leaving no room for updates",
     TRestoreOption::UseAllSpace},
    {"--metadata-only", "restore the metadata without any data", TRestoreOption::MetadataOnly},
};

// The restore options that take a text, each one text setting of the
// service; `major` is the server version the option needs (0: any).
struct TextOption {
    const char* name;
    const char* value;
    const char* help;
    std::string Options::*field;
    void (TpFIBRestoreService::*set)(std::string);
    int major;
};
constexpr TextOption kTextOptions[] = {
    {"--fix-fss-data", "CHARSET",
     "read text stored as malformed UNICODE_FSS in the data as CHARSET", &Options::fixFssData,
     &TpFIBRestoreService::SetFixFssData, 0},
    {"--fix-fss-metadata", "CHARSET",
     "read text stored as malformed UNICODE_FSS in the metadata as CHARSET",
     &Options::fixFssMetadata, &TpFIBRestoreService::SetFixFssMetadata, 0},
    {"--skip-data", "PATTERN",
     "leave out the data of the tables whose names match PATTERN (SIMILAR TO)", &Options::skipData,
     &TpFIBRestoreService::SetSkipData, 0},
    {"--include-data", "PATTERN",
     "restore the data of the tables whose names match PATTERN only (Firebird 4 and later)",
     &Options::includeData, &TpFIBRestoreService::SetIncludeData, 4},
};
constexpr int kReplicaMajor = 4;

const std::map<std::string, TReplicaMode> kReplicaModes = {
    {"none", TReplicaMode::None},
    {"read-only", TReplicaMode::ReadOnly},
    {"read-write", TReplicaMode::ReadWrite},
};

// The page sizes the servers take; another would be silently changed.
bool AcceptedPageSize(int size) {
    return size == 0 || size == 4096 || size == 8192 || size == 16384 || size == 32768;
}

}  // namespace

ParseResult ParseCommandLine(int argc, const char* const* argv) {
    Options options;
    CLI::App app(kDescription, "tovanel-restore");
    app.footer(kFooter);
    app.add_option("BACKUP", options.backup, "backup file to restore (\"-\": standard input)")
        ->required();
    app.add_option("TARGET", options.target, "database file to restore into")->required();
    app.add_flag("--replace", options.replace,
                 "replace an existing local target (kept aside until the result is confirmed)");
    app.add_flag("--backup-on-server", options.backupOnServer,
                 "BACKUP is a path the server reads itself, on its own machine");
    app.add_option("--server", options.server,
                   "restore on HOST (HOST/PORT for another port) instead of the local server");
    app.add_option("--user", options.user, "user name (default: ISC_USER, else SYSDBA)");
    app.add_option("--password-file", options.passwordFile,
                   "read the password from the first line of FILE");
    app.add_option("--page-size", options.pageSize,
                   "page size of the new database (default: the backup's own)");
    app.add_option("--buffers", options.buffers, "page buffers of the new database (0: default)")
        ->default_val(0)
        ->check(CLI::NonNegativeNumber);
    bool flags[std::size(kFlagOptions)] = {};
    for (std::size_t i = 0; i < std::size(kFlagOptions); ++i)
        app.add_flag(kFlagOptions[i].name, flags[i], kFlagOptions[i].help)->group("Restore");
    bool readOnly = false;
    app.add_flag("--read-only", readOnly, "make the restored database read-only")->group("Restore");
    for (const TextOption& text : kTextOptions)
        app.add_option(text.name, options.*text.field, text.help)
            ->type_name(text.value)
            ->group("Restore");
    app.add_option("--replica", options.replica,
                   "replica mode of the restored database (Firebird 4 and later)")
        ->transform(CLI::CheckedTransformer(kReplicaModes))
        ->type_name("none|read-only|read-write")
        ->group("Restore");
    app.add_flag("-v,--verbose", options.verbose, "copy the server's output lines to stderr");
    app.add_flag("--json", options.json, "write the progress events as JSON lines on stdout");

    ParseResult result;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        result.text = app.help();
        return result;
    } catch (const CLI::ParseError& error) {
        result.exitCode = 2;
        result.text = std::string("tovanel-restore: ") + error.what() +
                      "\nTry 'tovanel-restore --help' for more information.\n";
        return result;
    }
    for (std::size_t i = 0; i < std::size(kFlagOptions); ++i)
        if (flags[i])
            options.restoreOptions.Include(kFlagOptions[i].member);
    if (readOnly)
        options.accessMode = TRestoreAccessMode::ReadOnly;
    result.options = options;
    return result;
}

std::string CheckOptions(const Options& options) {
    if (!AcceptedPageSize(options.pageSize))
        return "page size " + std::to_string(options.pageSize) +
               " is not one the server accepts (4096, 8192, 16384 or 32768)";
    if (options.backupOnServer && options.backup == "-")
        return "--backup-on-server takes a path on the server, not \"-\" (standard input)";
    if (!options.server.empty() && options.replace)
        return "--replace works on local targets only: on a remote server the target file "
               "is not ours to move aside";
    return {};
}

void ApplyRestoreSettings(const Options& options, TpFIBRestoreService& service) {
    service.SetPageSize(options.pageSize);
    service.SetPageBuffers(options.buffers);
    TRestoreOptions members = options.restoreOptions;
    members.Include(TRestoreOption::CreateNewDB);
    service.SetOptions(members);
    service.SetAccessMode(options.accessMode);
    for (const TextOption& text : kTextOptions) (service.*text.set)(options.*text.field);
    service.SetReplicaMode(options.replica);
    // The 3.0 client library refuses start items it does not know unless the
    // texts are declared UTF-8; then it hands them on to a newer server.
    if (!ServerNeeds(options).empty())
        service.SetUtf8Names(true);
}

std::vector<restore::ServerNeed> ServerNeeds(const Options& options) {
    std::vector<restore::ServerNeed> needs;
    for (const TextOption& text : kTextOptions)
        if (text.major > 0 && !(options.*text.field).empty())
            needs.push_back({text.name, text.major});
    if (options.replica != TReplicaMode::AsBackedUp)
        needs.push_back({"--replica", kReplicaMajor});
    return needs;
}

}  // namespace cli
