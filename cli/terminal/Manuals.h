// The command line's manual pages and bash completion, made at build time from the same text
// as --help: below folder, share/man/man1/zorvik.1 and zorvik-COMMAND.1 (one per command), and
// share/bash-completion/completions/zorvik.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace Zorvik::Cli {

// Raises std::runtime_error when a file cannot be written.
void WriteManuals(const CLI::App& app, const std::string& folder, const std::string& version);

// The bash completion of app's commands and options.
std::string BashCompletion(const CLI::App& app);

}  // namespace Zorvik::Cli
