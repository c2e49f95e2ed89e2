// The entries of an archive's tree that a path typed for remove, rename or move names. First
// the entries whose path is exactly the one list prints, so that every name list shows can be
// named ("../evil", "d//z.txt" and "./x" included; a trailing "/" names a folder); only when
// none has it, the entries whose path is the typed one without "." components and doubled or
// leading "/" ("./docs/" names "docs"). The root is no entry: "", "/" and "." name none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zorvik/Zorvik.h"

namespace Zorvik::Cli {

struct FoundEntry {
    zorvik::ArchiveItem item;
    std::string path;  // as list shows it, without the "/" of a folder
    bool folder = false;
};

// Every node the path names (an archive may hold one path twice); only the folders on the
// way are walked.
std::vector<FoundEntry> EntriesAt(const zorvik::ArchiveFolder& root, const std::string& typed);

// The entries at path and below it that stand for an entry of the archive (implicit folders
// do not).
std::uint64_t EntriesBelow(const zorvik::ArchiveFolder& root, const std::string& path);

// Whether path lies below folder (both as list shows them).
bool IsBelow(const std::string& path, const std::string& folder);

}  // namespace Zorvik::Cli
