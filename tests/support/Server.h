#pragma once
// The private database server that the test run starts (the FirebirdServer
// fixture), as the tests that restore for real reach it.

#include <filesystem>
#include <string>

namespace test_support {

// The server's folder: the client root that FIREBIRD names lies in it.
// Empty when FIREBIRD is not set.
std::filesystem::path ServerDir();

// The server's release as the run selected it (FB_RELEASE): 3 or 4. Cases
// that hold for one release only ask it.
int ServerRelease();

// Writes a file that the server's account may write too.
void WriteForServer(const std::filesystem::path& path, const std::string& content);

// What a shell command prints on its standard output.
std::string CommandOutput(const std::string& command);

// What the server's own query tool prints (errors included) when it runs
// `script` against `database` as SYSDBA; the tool is started through
// `scripts`/fbserver.sh so that it finds this server.
std::string QueryServer(const std::filesystem::path& scripts, const std::filesystem::path& script,
                        const std::filesystem::path& database);

}  // namespace test_support
