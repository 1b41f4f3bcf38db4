// tovanel-restore: the restore engine of the window, for servers without a
// display and for scripts.

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "cli/CliOptions.h"
#include "cli/Password.h"
#include "cli/Reporter.h"
#include "core/Locale.h"
#include "restore/BackupSource.h"
#include "restore/RestoreErrors.h"
#include "restore/RestoreJob.h"
#include "restore/WaitStrategy.h"
#include "services/IB_Services.h"

namespace {

restore::StopToken stop;
// Until the restore begins, an interruption simply ends the program.
std::atomic<bool> restoring{false};

// The client library takes any interrupted system call for a lost
// connection, so no thread that talks to the server may ever see the
// signal: every thread blocks it, and one of our own waits for it and only
// raises the stop token, which the restore looks at between its queries.
void CatchInterrupts() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals] {
        for (;;) {
            int received = 0;
            if (::sigwait(&signals, &received) != 0)
                continue;
            if (!restoring.load()) {
                cli::RestoreTerminalEcho();
                ::_exit(128 + received);
            }
            stop.Escalate();
        }
    }).detach();
}

void Connect(TpFIBRestoreService& service, const cli::Options& options, const std::string& user,
             const std::string& password) {
    service.SetName("RestoreService");
    service.SetLoginPrompt(false);
    if (!options.server.empty()) {
        service.SetProtocol(TProtocol::TCP);
        service.SetServerName(options.server);
    }
    service.Params().SetLines({"user_name=" + user, "password=" + password});
    // The phases are followed from the server's lines, printed or not.
    service.SetVerbose(true);
}

// The read-ahead's buffer: enough that the server never waits on us.
constexpr std::size_t kReadAhead = std::size_t{4} << 20;

}  // namespace

int main(int argc, char** argv) {
    core::UseUtf8CharacterType();  // before the interrupt thread starts
    CatchInterrupts();
    const cli::ParseResult parsed = cli::ParseCommandLine(argc, argv);
    if (!parsed.options) {
        std::fputs(parsed.text.c_str(), parsed.exitCode == 0 ? stdout : stderr);
        return parsed.exitCode;
    }
    const cli::Options& options = *parsed.options;
    const std::unique_ptr<cli::Reporter> reporter =
        options.json ? cli::MakeJsonReporter(options.verbose)
                     : cli::MakeTextReporter(options.verbose, ::isatty(STDERR_FILENO) == 1);

    if (const std::string refusal = cli::CheckOptions(options); !refusal.empty()) {
        reporter->Refused(refusal);
        return 2;
    }
    std::unique_ptr<restore::IBackupSource> source;
    restore::RestoreRequest request{
        .backup = restore::ServerFile{options.backup},
        .targetPath = options.target,
        .replaceExisting = options.replace,
        // A remote target is the server's path: nothing here may move it.
        .targetIsRemote = !options.server.empty(),
        .removeFailedNewTarget = true,
        .needs = cli::ServerNeeds(options),
    };
    try {
        if (!options.backupOnServer) {
            source = restore::ReadAhead(restore::OpenBackupStream(options.backup), kReadAhead);
            request.backup = restore::ClientStream{.source = source.get(), .name = options.backup};
        }
        restore::CheckRequest(restore::WithAbsolutePaths(request));
    } catch (const std::exception&) {
        reporter->Refused(cli::Describe(std::current_exception()));
        return 2;
    }

    std::string user = options.user;
    if (user.empty()) {
        const char* fromEnvironment = std::getenv("ISC_USER");
        user = fromEnvironment && *fromEnvironment ? fromEnvironment : "SYSDBA";
    }
    std::string error;
    const std::optional<std::string> password = cli::ObtainPassword(options.passwordFile, error);
    if (!password) {
        reporter->Refused(error);
        return 2;
    }

    TpFIBRestoreService service;
    Connect(service, options, user, *password);
    cli::ApplyRestoreSettings(options, service);
    restore::ServerSideWait wait;
    restore::RestoreJob job(service, wait, *reporter, stop);
    restoring.store(true);
    try {
        job.Run(request);
    } catch (const std::exception&) {
        return cli::ExitCode(job.Failure());
    }
    return 0;
}
