// The five commands. Each returns its exit code; failures that end a command early are raised
// as CommandError.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/terminal/Console.h"
#include "cli/extracting/DestinationFolder.h"
#include "cli/terminal/ExitCode.h"

namespace Zorvik::Cli {

struct ArchiveOptions {
    std::string archive;
    std::optional<std::string> password;
    bool json = false;
    bool quiet = false;                 // no progress bar, no summary
    std::vector<std::string> paths;     // patterns of the entries to work on; empty: every entry
    std::vector<std::string> excludes;  // patterns of entries to leave out
    bool localTime = false;             // list's times in the local zone
    std::uint32_t threads = 0;          // extract's and test's most threads; 0: the component's default
};

struct ExtractOptions {
    std::string output = ".";
    ExistingFiles existing = ExistingFiles::Fail;
    bool flat = false;
    bool toStandardOutput = false;
    bool preservePermissions = false;
    bool linksAsFiles = false;
};

ExitCode RunFormats(bool json);
ExitCode RunInfo(const ArchiveOptions& options, Console& console);
ExitCode RunList(const ArchiveOptions& options, Console& console);
ExitCode RunExtract(const ArchiveOptions& options, const ExtractOptions& extract, Console& console);
ExitCode RunTest(const ArchiveOptions& options, Console& console);
ExitCode RunVersion();

}  // namespace Zorvik::Cli
