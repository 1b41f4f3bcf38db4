#include "platform/FloatingPoint.h"

namespace platform {

#if defined(__x86_64__) || defined(__i386__)

namespace {

std::uint16_t ReadX87() {
    std::uint16_t word = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(word));
    return word;
}

std::uint32_t ReadMxcsr() {
    std::uint32_t value = 0;
    __asm__ __volatile__("stmxcsr %0" : "=m"(value));
    return value;
}

// Captured during static initialisation, before any library could change it.
const std::uint16_t startupWord = ReadX87();
const std::uint32_t startupMxcsr = ReadMxcsr();

}  // namespace

std::uint16_t DefaultFpuControlWord() {
    return startupWord;
}
std::uint16_t FpuControlWord() {
    return ReadX87();
}

void SetFpuControlWord(std::uint16_t word) {
    __asm__ __volatile__("fldcw %0" : : "m"(word));
}

void SetExtendedPrecision() {
    SetFpuControlWord(static_cast<std::uint16_t>(ReadX87() | 0x0300));
}

void ResetFpuToDefault() {
    __asm__ __volatile__("fnclex");
    SetFpuControlWord(startupWord);
    // Exception flags are the low six bits of MXCSR; drop them with the rest.
    std::uint32_t mxcsr = startupMxcsr & ~0x3Fu;
    __asm__ __volatile__("ldmxcsr %0" : : "m"(mxcsr));
}

#else

std::uint16_t DefaultFpuControlWord() {
    return 0;
}
std::uint16_t FpuControlWord() {
    return 0;
}
void SetFpuControlWord(std::uint16_t) {}
void SetExtendedPrecision() {}
void ResetFpuToDefault() {}

#endif

}  // namespace platform
