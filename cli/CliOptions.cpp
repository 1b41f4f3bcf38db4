#include "cli/CliOptions.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>

#include "restore/FileOps.h"

namespace cli {

namespace {

const char* const kDescription =
    "Restores a database from a backup file through the database server's services\n"
    "manager. An existing target is replaced only with --replace: it is moved aside\n"
    "first and put back if the restore fails or the restored database is not\n"
    "confirmed online.";

const char* const kFooter =
    "Password: from ISC_PASSWORD, from --password-file, or asked on the terminal.\n"
    "It is never taken from the command line.\n"
    "\n"
    "Exit status:\n"
    "  0  restored\n"
    "  1  the restore failed; the original, if there was one, is back in place\n"
    "  2  usage error or bad input; nothing was touched\n"
    "  3  the restore failed and the original could not be put back (the message\n"
    "     says where it is)";

// Firebird 3's page sizes; the server would pick another size for anything
// else and say so only in its verbose output.
bool AcceptedPageSize(int size) {
    return size == 4096 || size == 8192 || size == 16384;
}

std::string Folder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

ParseResult ParseCommandLine(int argc, const char* const* argv) {
    Options options;
    CLI::App app(kDescription, "tovanel-restore");
    app.footer(kFooter);
    app.add_option("BACKUP", options.backup, "backup file to restore")->required();
    app.add_option("TARGET", options.target, "database file to restore into")->required();
    app.add_flag("--replace", options.replace,
                 "replace an existing local target (kept aside until the result is confirmed)");
    app.add_option("--server", options.server,
                   "restore on HOST (HOST/PORT for another port) instead of the local server");
    app.add_option("--user", options.user, "user name (default: ISC_USER, else SYSDBA)");
    app.add_option("--password-file", options.passwordFile,
                   "read the password from the first line of FILE");
    app.add_option("--page-size", options.pageSize, "page size of the new database")
        ->default_val(4096);
    app.add_option("--buffers", options.buffers, "page buffers of the new database (0: default)")
        ->default_val(0)
        ->check(CLI::NonNegativeNumber);
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
    result.options = options;
    return result;
}

std::string CheckRequest(const Options& options) {
    if (!AcceptedPageSize(options.pageSize))
        return "page size " + std::to_string(options.pageSize) +
               " is not one the server accepts (4096, 8192 or 16384)";
    if (!options.server.empty()) {
        if (options.replace)
            return "--replace works on local targets only: on a remote server the target file "
                   "is not ours to move aside";
        return {};
    }
    struct stat backup {};
    if (::stat(options.backup.c_str(), &backup) != 0)
        return "backup file not found: " + options.backup;
    if (S_ISDIR(backup.st_mode))
        return "backup is a folder, not a file: " + options.backup;
    const std::string target = restore::FollowLinks(options.target);
    struct stat folder {};
    if (::stat(Folder(target).c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        return "target folder not found: " + Folder(target);
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) {
        if (existing.st_dev == backup.st_dev && existing.st_ino == backup.st_ino)
            return "target is the backup file itself: " + options.target;
        if (S_ISDIR(existing.st_mode))
            return "target is a folder: " + options.target;
        if (!options.replace)
            return "target database already exists (use --replace to replace it): " +
                   options.target;
    }
    return {};
}

}  // namespace cli
