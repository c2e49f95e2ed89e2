// What an extraction run knows of an entry while it is being written: the facts its properties
// give, its path in the tree and as the archive holds it, and its number in the archive.
#pragma once

#include <cstdint>
#include <string>

#include "cli/reading/EntryList.h"
#include "zorvik/Zorvik.h"

namespace Zorvik::Cli {

struct ExtractionItem : EntryFacts {
    zorvik::ArchiveItem item;
    std::wstring path;                 // node names from the root down to the item, joined with "/"
    std::wstring entryPath;            // the path as the archive holds it; empty for implicit folders
    std::uint32_t index = UINT32_MAX;  // the entry's number in the archive; none for implicit folders

    static ExtractionItem Of(const zorvik::ArchiveItem& node);
};

}  // namespace Zorvik::Cli
