// The five writing commands: create, add, remove, rename and move. Each writes the new archive
// beside the old one and replaces it only once the component reports success (ArchiveReplacement).
// Each returns its exit code; failures that end a command early are raised as CommandError.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/writing/CompressionChoice.h"
#include "cli/terminal/Console.h"
#include "cli/terminal/ExitCode.h"

namespace Zorvik::Cli {

struct WriteOptions {
    std::string archive;
    std::vector<std::string> paths;
    std::string newName;            // rename
    std::optional<std::string> to;  // add and move: the folder inside the archive
    std::string format;             // create: empty takes it from the archive's name
    std::string onConflict;         // add: empty asks on a terminal and fails elsewhere
    bool force = false;             // create: replace an archive that exists
    bool dereference = false;       // create and add: store what symbolic links point to
    bool json = false;
    bool quiet = false;                   // no closing line (the --json object stays)
    std::optional<std::string> password;  // --password
    std::uint64_t volumeSize = 0;         // create and add: 0 writes one file, else volumes NAME.001, ... of this size
    CompressionChoice compression;
};

ExitCode RunCreate(const WriteOptions& options, Console& console);
ExitCode RunAdd(const WriteOptions& options, Console& console);
ExitCode RunRemove(const WriteOptions& options, Console& console);
ExitCode RunRename(const WriteOptions& options, Console& console);
ExitCode RunMove(const WriteOptions& options, Console& console);

}  // namespace Zorvik::Cli
