#pragma once
// Progress figures as both front ends print them.

#include <chrono>
#include <cstdint>
#include <string>

namespace restore {

// "0:42", "12:05", "1:02:03".
std::string FormatElapsed(std::chrono::milliseconds elapsed);
// "0 B", "512 B", "3.4 KB", "1.2 GB" (units of 1024).
std::string FormatSize(std::int64_t bytes);

}  // namespace restore
