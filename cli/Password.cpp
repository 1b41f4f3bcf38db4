#include "cli/Password.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace cli {

namespace {

// The terminal whose echo is off while the question waits, and its settings.
std::atomic<int> silencedTerminal{-1};
termios savedSettings{};

std::string WithoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

// Reads a line from the terminal with echo off, echo restored on every path.
std::optional<std::string> AskTerminal(std::string& error) {
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0) {
        error = "no password: set ISC_PASSWORD or use --password-file (no terminal to ask on)";
        return std::nullopt;
    }
    const char prompt[] = "Password: ";
    [[maybe_unused]] ssize_t written = ::write(tty, prompt, sizeof prompt - 1);
    termios saved{};
    const bool quiet = ::tcgetattr(tty, &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        savedSettings = saved;
        silencedTerminal.store(tty);
        ::tcsetattr(tty, TCSAFLUSH, &silent);
    }
    std::string line;
    char c = 0;
    while (::read(tty, &c, 1) == 1 && c != '\n') line += c;
    if (quiet) {
        silencedTerminal.store(-1);
        ::tcsetattr(tty, TCSAFLUSH, &saved);
    }
    written = ::write(tty, "\n", 1);
    ::close(tty);
    return WithoutLineEnd(line);
}

}  // namespace

void RestoreTerminalEcho() {
    const int tty = silencedTerminal.exchange(-1);
    if (tty >= 0) {
        ::tcsetattr(tty, TCSAFLUSH, &savedSettings);
        [[maybe_unused]] ssize_t written = ::write(tty, "\n", 1);
    }
}

std::optional<std::string> ObtainPassword(const std::string& passwordFile, std::string& error) {
    if (!passwordFile.empty()) {
        std::ifstream in(passwordFile);
        std::string line;
        if (!in || !std::getline(in, line)) {
            error = "cannot read the password file: " + passwordFile;
            return std::nullopt;
        }
        return WithoutLineEnd(line);
    }
    if (const char* value = std::getenv("ISC_PASSWORD"))
        return std::string(value);
    return AskTerminal(error);
}

}  // namespace cli
