// tovanel-restore: the restore engine of the window, for servers without a
// display and for scripts.

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "cli/CliOptions.h"
#include "cli/Password.h"
#include "cli/Reporter.h"
#include "core/Locale.h"
#include "restore/RestoreErrors.h"
#include "restore/RestoreJob.h"
#include "restore/WaitStrategy.h"
#include "services/IB_Services.h"

namespace {

std::atomic<int> interrupts{0};
// Until the restore begins, an interruption simply ends the program.
std::atomic<bool> restoring{false};

// The client library takes any interrupted system call for a lost
// connection, so no thread that talks to the server may ever see the
// signal: every thread blocks it, and one of our own waits for it and only
// counts. The restore looks at the count after each query, at most a
// second later.
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
            interrupts.fetch_add(1);
        }
    }).detach();
}

// The server's restore cannot be stopped from here: on this server a
// detached or vanished client leaves it running to its end, and a forced
// shutdown of the new database is ignored while it is restored. So the first
// interruption only says so and waits on, to put the original back should
// the restore fail; the second leaves at once.
class InterruptibleWait : public restore::ServerSideWait {
  public:
    InterruptibleWait(cli::Reporter& reporter, const std::string& target)
        : reporter_(reporter), target_(target) {}

  protected:
    void AfterQuery() override {
        const int seen = interrupts.load();
        if (seen >= 2)
            throw restore::ERestoreAbandoned(target_);
        if (seen == 1 && !noticed_) {
            noticed_ = true;
            reporter_.Notice(
                "interrupted: the server cannot stop a restore once it runs, so this waits for "
                "it to end and puts the original back if it fails; interrupt again to leave "
                "now (the server goes on restoring, and the original stays aside)");
        }
    }

  private:
    cli::Reporter& reporter_;
    std::string target_;
    bool noticed_ = false;
};

void Configure(TpFIBRestoreService& service, const cli::Options& options, const std::string& user,
               const std::string& password) {
    service.SetName("RestoreService");
    service.SetLoginPrompt(false);
    if (!options.server.empty()) {
        service.SetProtocol(TProtocol::TCP);
        service.SetServerName(options.server);
    }
    service.Params().SetLines({"user_name=" + user, "password=" + password});
    service.SetPageSize(options.pageSize);
    service.SetPageBuffers(options.buffers);
    service.SetVerbose(options.verbose);
}

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
    cli::Reporter reporter(options.json, options.verbose, ::isatty(STDERR_FILENO) == 1);

    if (const std::string refusal = cli::CheckRequest(options); !refusal.empty()) {
        reporter.Refused(refusal);
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
        reporter.Refused(error);
        return 2;
    }

    TpFIBRestoreService service;
    Configure(service, options, user, *password);
    InterruptibleWait wait(reporter, options.target);
    restore::RestoreJob job(service, wait, reporter);
    job.SetCancelCheck([] { return interrupts.load() > 0; });
    restoring.store(true);
    try {
        // A remote target is the server's path: nothing here may move it.
        job.Run({options.backup, options.target, options.replace, options.server.empty()});
    } catch (const std::exception&) {
        return cli::FailureExitCode(job.Fate());
    }
    return 0;
}
