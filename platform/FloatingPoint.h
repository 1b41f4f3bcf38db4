#pragma once
// The processor's floating-point control word. The client library may change
// it; every call into the library is followed by a reset to the word the
// process started with.

#include <cstdint>

namespace platform {

// The control word saved when the process started (x87 on x86; 0 elsewhere).
std::uint16_t DefaultFpuControlWord();
std::uint16_t FpuControlWord();
void SetFpuControlWord(std::uint16_t word);
// Sets the precision-control field to 64-bit significand, other bits kept.
void SetExtendedPrecision();
// Clears pending exception flags, then restores the start-up control word
// (and the SSE control and status register to its start-up value).
void ResetFpuToDefault();

}  // namespace platform
