// Where the password comes from: --password, else $ZORVIK_PASSWORD, else a prompt without echo
// when stdin is a terminal. It is looked for once, when an operation first asks; only the
// prompt is asked again after a wrong answer, and at most twice.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "cli/terminal/Console.h"

namespace Zorvik::Cli {

class PasswordSource {
public:
    PasswordSource(std::optional<std::string> option, Console& console);

    // None when no source has one (or the prompt was interrupted).
    std::optional<std::string> Get();
    // Another password after the last one proved wrong: asked for again at the prompt, none
    // from the command line, the environment or a prompt asked three times.
    std::optional<std::string> Retry();

private:
    std::optional<std::string> Find();
    std::optional<std::string> Ask(const char* prompt);

    std::optional<std::string> option_;
    Console& console_;
    std::mutex mutex_;
    bool looked_ = false;
    int prompts_ = 0;
    std::optional<std::string> password_;
};

}  // namespace Zorvik::Cli
