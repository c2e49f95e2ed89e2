#include "cli/reading/PasswordSource.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "cli/terminal/Interrupt.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Cli {

namespace {

// The first prompt and two more after wrong answers.
constexpr int kMostPrompts = 3;

// Waits until stdin has input, or Ctrl-C was pressed. The signal may land on any thread, so a
// blocked read would not notice it: the flag is looked at between short waits.
bool AwaitInput() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    while (!Interrupt::Requested()) {
        const int ready = ::poll(&input, 1, 100);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
    return false;
}

// Reads one line from the terminal on stdin with echo off; the terminal is restored whatever
// happens, Ctrl-C included.
std::optional<std::string> Prompt(const char* prompt) {
    termios saved{};
    if (::tcgetattr(STDIN_FILENO, &saved) != 0) return std::nullopt;
    termios silent = saved;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    silent.c_lflag |= ICANON;
    // Echo goes off before the prompt appears, so that nothing typed after it is shown.
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    std::string line;
    bool complete = false;
    for (;;) {
        char c = 0;
        if (!AwaitInput()) break;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n <= 0) break;  // end of input, or interrupted
        if (c == '\n') {
            complete = true;
            break;
        }
        line.push_back(c);
    }
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
    std::fflush(stderr);
    if (!complete) return std::nullopt;
    return line;
}

}  // namespace

PasswordSource::PasswordSource(std::optional<std::string> option, Console& console) : option_(std::move(option)), console_(console) {}

std::optional<std::string> PasswordSource::Get() {
    std::lock_guard lock(mutex_);
    if (!looked_) {
        looked_ = true;
        if (const auto found = Find()) password_ = *found;
    }
    return password_;
}

std::optional<std::string> PasswordSource::Retry() {
    std::lock_guard lock(mutex_);
    password_.reset();
    if (prompts_ == 0 || prompts_ >= kMostPrompts) return std::nullopt;
    if (const auto answer = Ask("Wrong password. Password: ")) password_ = *answer;
    return password_;
}

std::optional<std::string> PasswordSource::Find() {
    if (option_) return option_;
    if (const char* environment = std::getenv("ZORVIK_PASSWORD"); environment && *environment) return std::string(environment);
    if (!::isatty(STDIN_FILENO)) return std::nullopt;
    return Ask("Password: ");
}

std::optional<std::string> PasswordSource::Ask(const char* prompt) {
    ++prompts_;
    return console_.Exclusive([prompt] { return Prompt(prompt); });
}

}  // namespace Zorvik::Cli
