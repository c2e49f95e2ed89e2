// Where the password comes from: --password, else $ZORVIK_PASSWORD, else a prompt without echo
// when stdin is a terminal. It is looked for once, when an operation first asks.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "cli/Console.h"

namespace Zorvik::Cli {

class PasswordSource {
public:
    PasswordSource(std::optional<std::string> option, Console& console);

    // None when no source has one (or the prompt was interrupted).
    std::optional<std::wstring> Get();

private:
    std::optional<std::string> Find();

    std::optional<std::string> option_;
    Console& console_;
    std::mutex mutex_;
    bool looked_ = false;
    std::optional<std::wstring> password_;
};

}  // namespace Zorvik::Cli
