// The writing commands on the command line: their options and manual pages, and running the one
// that was given.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

#include "cli/terminal/ManPageFormatter.h"
#include "cli/writing/WriteCommands.h"

namespace Zorvik::Cli {

class WriteCommandLine {
public:
    // A command's manual page from its name, summary, synopsis, description and examples.
    using PageMaker = std::function<ManPage(std::string, std::string, std::string, std::string, std::string)>;

    // Adds create, add, remove, rename and move to app; quiet is the flag all commands share.
    WriteCommandLine(CLI::App& app, bool& quiet, const PageMaker& page);

    // Whether one of them was given.
    bool Parsed() const;
    // Of the one that was given.
    bool Json() const noexcept { return options_.json; }
    const std::string& Archive() const noexcept { return options_.archive; }
    ExitCode Run(Console& console, bool quiet);

private:
    CLI::App* Command(CLI::App& app, const char* name, const char* help, bool& quiet);
    // PATH and how symbolic links among them are stored (create, add).
    void AddPathOptions(CLI::App* command);
    void AddCompressionOptions(CLI::App* command);
    // --volume-size (create, add).
    void AddVolumeOption(CLI::App* command);

    WriteOptions options_;
    std::string password_;
    std::string to_;
    std::string renamedPath_;
    std::vector<CLI::Option*> passwordOptions_;
    bool solid_ = false;
    bool notSolid_ = false;
    std::vector<std::pair<CLI::App*, ExitCode (*)(const WriteOptions&, Console&)>> commands_;
};

}  // namespace Zorvik::Cli
