// The reading commands on the command line (formats, info, list, extract, test, version): their
// options and manual pages, and running the one that was given.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

#include "cli/reading/Commands.h"

namespace Zorvik::Cli {

class ReadCommandLine {
public:
    // Adds the commands to app but version; quiet is the flag all commands share.
    ReadCommandLine(CLI::App& app, bool& quiet);
    // version, which comes last.
    void AddVersion(CLI::App& app);

    // Whether version was given.
    bool VersionParsed() const { return version_->parsed(); }
    // Of the one that was given.
    bool Json() const noexcept { return options_.json; }
    const std::string& Archive() const noexcept { return options_.archive; }
    // What was given that the parser lets through but is no use, said as a usage error.
    std::optional<std::string> UsageError() const;
    // Runs the command given, if one of these was (version aside); Success otherwise.
    ExitCode Run(Console& console, bool quiet);

private:
    ArchiveOptions options_;
    ExtractOptions extract_;
    std::string password_;
    bool overwrite_ = false;
    bool skipExisting_ = false;
    std::vector<CLI::Option*> passwordOptions_;
    CLI::App* formats_ = nullptr;
    CLI::App* info_ = nullptr;
    CLI::App* list_ = nullptr;
    CLI::App* extract_command_ = nullptr;
    CLI::App* test_ = nullptr;
    CLI::App* version_ = nullptr;
};

}  // namespace Zorvik::Cli
