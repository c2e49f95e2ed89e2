// The item tree of an opened archive as it is walked: every node but the root, depth first,
// each folder before what it holds, children in the order the archive gave them. Nothing of a
// node is kept once the walk has left it, so a walk costs memory for one path, whatever the
// number of entries.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <string>

#include "zorvik/Zorvik.h"

namespace Zorvik::Cli {

// Entries nested deeper than this many folders are refused where their paths would be written
// (list, extract): a chain of folders makes the paths grow with the square of its depth, so a
// 200 KB archive could print gigabytes, and no path that deep fits a file system's path limit.
inline constexpr std::size_t kMaxDepth = 1024;

// What an item's properties say of it.
struct EntryFacts {
    bool folder = false;
    bool implicit = false;  // a folder no entry names, made to hold deeper entries
    bool encrypted = false;
    std::uint64_t size = 0;
    std::uint64_t packedSize = 0;
    std::int64_t modified = 0;       // ticks since 1601 UTC; 0 when the entry has no time
    std::uint32_t mode = 0;          // st_mode bits; 0 when the archive records none
    std::string symbolicLinkTarget;  // empty also when the target is the entry's data
    std::string hardLinkTarget;      // a path in the archive

    bool IsSymbolicLink() const noexcept { return !folder && ((mode & S_IFMT) == S_IFLNK || !symbolicLinkTarget.empty()); }
    bool IsHardLink() const noexcept { return !folder && !hardLinkTarget.empty(); }
};

// Reads the facts of item; its properties, none for an implicit folder.
zorvik::EntryProperties ReadFacts(const zorvik::ArchiveItem& item, EntryFacts& facts);

struct Entry : EntryFacts {
    zorvik::ArchiveItem item;
    std::string path;       // node names from the root down, joined with "/"
    std::size_t depth = 0;  // 1 for the root's children
};

// Calls visit for every node below root in walk order; a folder's content is walked when visit
// answers true for it.
void WalkEntries(const zorvik::ArchiveFolder& root, const std::function<bool(const Entry&)>& visit);

}  // namespace Zorvik::Cli
