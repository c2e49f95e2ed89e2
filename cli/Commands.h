// The five commands. Each returns its exit code; failures that end a command early are raised
// as CommandError.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/Console.h"
#include "cli/DestinationFolder.h"
#include "cli/ExitCode.h"

namespace Zorvik::Cli {

struct ArchiveOptions {
    std::string archive;
    std::optional<std::string> password;
    bool json = false;
};

struct ExtractOptions {
    std::string output = ".";
    ExistingFiles existing = ExistingFiles::Fail;
    std::vector<std::string> paths;  // empty: everything
};

ExitCode RunFormats(bool json);
ExitCode RunInfo(const ArchiveOptions& options, Console& console);
ExitCode RunList(const ArchiveOptions& options, Console& console);
ExitCode RunExtract(const ArchiveOptions& options, const ExtractOptions& extract, Console& console);
ExitCode RunTest(const ArchiveOptions& options, Console& console);

}  // namespace Zorvik::Cli
