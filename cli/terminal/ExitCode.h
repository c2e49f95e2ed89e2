// How a command ends: the process exit codes and the error that carries one out of a command.
#pragma once

#include <stdexcept>
#include <string>

namespace Zorvik::Cli {

enum class ExitCode : int {
    Success = 0,
    Failed = 1,  // the operation ran but failed, or some items failed
    Usage = 2,
    NotAnArchive = 3,
    Password = 4,       // missing or wrong
    Busy = 5,           // another operation holds the archive
    Interrupted = 130,  // by a signal: the process exits with 128 + its number (130 for Ctrl-C)
};

// Ends a command; main prints "zorvik: <subject>: <reason>" and exits with the code.
class CommandError : public std::runtime_error {
public:
    CommandError(ExitCode code, std::string subject, const std::string& reason)
        : std::runtime_error(reason), code_(code), subject_(std::move(subject)) {}

    ExitCode Code() const noexcept { return code_; }
    const std::string& Subject() const noexcept { return subject_; }

private:
    ExitCode code_;
    std::string subject_;
};

}  // namespace Zorvik::Cli
