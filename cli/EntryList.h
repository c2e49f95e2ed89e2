// The item tree of an opened archive as a flat list: every node but the root, depth first,
// each folder before what it holds, children in the order the archive gave them.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Zorvik/Items.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Cli {

struct Entry {
    zorvik::rt::com_ptr<IArchiveItem> item;
    std::vector<std::wstring> components;  // node names from the root down to this node
    std::string path;                      // components joined with "/"
    std::wstring entryPath;                // the path as the archive holds it; empty for implicit folders
    bool folder = false;
    bool implicit = false;  // a folder no entry names, made to hold deeper entries
    bool encrypted = false;
    std::uint64_t size = 0;
    std::uint64_t packedSize = 0;
    std::int64_t modified = 0;  // ticks since 1601 UTC; 0 when the entry has no time
    std::uint32_t mode = 0;     // st_mode bits; 0 when the archive records none
    std::wstring symbolicLinkTarget;  // empty also when the target is the entry's data
    std::wstring hardLinkTarget;      // a path in the archive

    bool IsSymbolicLink() const noexcept { return !folder && ((mode & S_IFMT) == S_IFLNK || !symbolicLinkTarget.empty()); }
    bool IsHardLink() const noexcept { return !folder && !hardLinkTarget.empty(); }
};

std::vector<Entry> ListEntries(IArchiveFolder* root);

}  // namespace Zorvik::Cli
