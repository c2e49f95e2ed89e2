// Everything the tool writes to stderr: one line per error ("zorvik: <subject>: <reason>") and,
// when stderr is a terminal, a progress bar that errors and prompts never collide with.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Zorvik::Cli {

class Console {
public:
    // quiet silences the progress bar (never the errors).
    explicit Console(bool quiet);

    void Error(std::string_view subject, std::string_view reason);

    // --json: every error said from now on is kept, for the object that tells a failure; and a
    // command that has begun its own object on stdout says so, since nothing may follow it.
    void KeepErrors() noexcept { keepErrors_ = true; }
    const std::vector<std::pair<std::string, std::string>>& KeptErrors() const noexcept { return kept_; }
    void ReportBegun() noexcept { reportBegun_ = true; }
    bool HasReportBegun() const noexcept { return reportBegun_; }

    // Called from the operation's callbacks; redraws at most a few times a second.
    void SetTotal(std::uint64_t total);
    void SetCompleted(std::uint64_t done);
    // Clears the bar for good.
    void EndProgress();

    // Runs body with the terminal line cleared and no redraw in between (password prompts).
    template <typename Body>
    auto Exclusive(Body&& body) {
        std::lock_guard lock(mutex_);
        ClearLine();
        return body();
    }

private:
    void ClearLine();
    void Draw(std::chrono::steady_clock::time_point now);

    const bool showProgress_;
    bool keepErrors_ = false;
    std::vector<std::pair<std::string, std::string>> kept_;  // subject, reason
    bool reportBegun_ = false;
    std::mutex mutex_;
    bool lineDrawn_ = false;
    bool ended_ = false;
    std::uint64_t total_ = 0;
    std::uint64_t done_ = 0;
    std::chrono::steady_clock::time_point started_{};
    std::chrono::steady_clock::time_point lastDrawn_{};
};

}  // namespace Zorvik::Cli
