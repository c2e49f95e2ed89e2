#include "cli/terminal/Console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <fmt/format.h>

#include "cli/terminal/ProgressBar.h"
#include "cli/terminal/Text.h"

namespace Zorvik::Cli {

namespace {
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::size_t TerminalWidth() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}
}  // namespace

Console::Console(bool quiet) : showProgress_(!quiet && ::isatty(STDERR_FILENO)) {}

void Console::Error(std::string_view subject, std::string_view reason) {
    std::lock_guard lock(mutex_);
    ClearLine();
    fmt::print(stderr, "zorvik: {}: {}\n", Printable(subject), Printable(reason));
    std::fflush(stderr);
    if (keepErrors_) kept_.emplace_back(subject, reason);
}

void Console::SetTotal(std::uint64_t total) {
    if (!showProgress_) return;
    std::lock_guard lock(mutex_);
    if (started_ == std::chrono::steady_clock::time_point{}) started_ = std::chrono::steady_clock::now();
    total_ = total;
}

void Console::SetCompleted(std::uint64_t done) {
    if (!showProgress_) return;
    std::lock_guard lock(mutex_);
    done_ = done;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDrawn_ >= kRedrawInterval) Draw(now);
}

void Console::EndProgress() {
    std::lock_guard lock(mutex_);
    ClearLine();
    ended_ = true;
}

void Console::ClearLine() {
    if (!lineDrawn_) return;
    fmt::print(stderr, "\r\033[K");
    std::fflush(stderr);
    lineDrawn_ = false;
}

void Console::Draw(std::chrono::steady_clock::time_point now) {
    if (ended_) return;
    if (started_ == std::chrono::steady_clock::time_point{}) started_ = now;
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    // One column short of the width, so that the cursor never wraps to a new line.
    fmt::print(stderr, "\r{}\033[K", RenderProgress(done_, total_, elapsed, TerminalWidth() - 1));
    std::fflush(stderr);
    lineDrawn_ = true;
    lastDrawn_ = now;
}

}  // namespace Zorvik::Cli
