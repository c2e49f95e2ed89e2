// What every manual page of zorvik shares: the exit status and environment sections, a
// command's page from its parts, and the page of zorvik itself.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "cli/terminal/ManPageFormatter.h"

namespace Zorvik::Cli {

// takesPassword: the environment section names ZORVIK_PASSWORD.
ManPage CommandPage(std::string name, std::string summary, std::string synopsis, std::string description, std::string examples,
                    bool takesPassword = true);
// zorvik(1), as app's formatter.
void SetMainPage(CLI::App& app);

}  // namespace Zorvik::Cli
