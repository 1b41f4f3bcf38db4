#pragma once
// Facts about the running program that do not depend on the current directory.

#include <string>

namespace platform {

// Full path of the running executable ("/opt/tool/bin/Main_Prg").
std::string ExecutablePath();
// The executable's folder with its trailing separator ("/opt/tool/bin/").
std::string ExecutableDir();
// The executable's file name without its folder ("Main_Prg").
std::string ExecutableFileName();

}  // namespace platform
