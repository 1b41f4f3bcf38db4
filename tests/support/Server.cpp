#include "tests/support/Server.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "tests/support/Files.h"

namespace fs = std::filesystem;

namespace test_support {

fs::path ServerDir() {
    const char* client = std::getenv("FIREBIRD");
    return client ? fs::path(client).parent_path() : fs::path();
}

int ServerRelease() {
    const char* release = std::getenv("FB_RELEASE");
    return release ? std::atoi(release) : 3;
}

void WriteForServer(const fs::path& path, const std::string& content) {
    WriteFile(path, content);
    ::chmod(path.c_str(), 0666);
}

std::string CommandOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
        ::pclose(pipe);
    }
    return output;
}

std::string QueryServer(const fs::path& scripts, const fs::path& script, const fs::path& database) {
    return CommandOutput("timeout 120 '" + (scripts / "fbserver.sh").string() + "' run '" +
                         ServerDir().string() +
                         "' isql-fb -q -ch UTF8 -user SYSDBA -password fernstone -i '" +
                         script.string() + "' 'localhost:" + database.string() + "' 2>&1");
}

}  // namespace test_support
