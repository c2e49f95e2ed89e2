#include "cli/reading/EntryLookup.h"

#include "cli/reading/EntryList.h"
#include "cli/terminal/Text.h"

namespace Zorvik::Cli {

namespace {

// The nodes whose path is exactly path; a folder only, when folderOnly.
std::vector<FoundEntry> Matching(const zorvik::ArchiveFolder& root, const std::string& path, bool folderOnly) {
    std::vector<FoundEntry> found;
    WalkEntries(root, [&](const Entry& entry) {
        if (entry.path == path && (entry.folder || !folderOnly)) found.push_back({entry.item, entry.path, entry.folder});
        return entry.folder && IsBelow(path, entry.path);
    });
    return found;
}

}  // namespace

bool IsBelow(const std::string& path, const std::string& folder) { return path.size() > folder.size() && path.starts_with(folder + "/"); }

std::vector<FoundEntry> EntriesAt(const zorvik::ArchiveFolder& root, const std::string& typed) {
    // list prints a folder with a "/" after its path.
    const bool folderOnly = typed.size() > 1 && typed.back() == '/';
    const std::string listed = folderOnly ? typed.substr(0, typed.size() - 1) : typed;
    if (!listed.empty()) {
        if (auto found = Matching(root, listed, folderOnly); !found.empty()) return found;
    }
    const std::string normalized = NormalizedPath(typed);
    if (normalized.empty() || normalized == listed) return {};
    return Matching(root, normalized, folderOnly);
}

std::uint64_t EntriesBelow(const zorvik::ArchiveFolder& root, const std::string& path) {
    std::uint64_t count = 0;
    WalkEntries(root, [&](const Entry& entry) {
        const bool inside = entry.path == path || IsBelow(entry.path, path);
        if (inside && !entry.implicit) ++count;
        return entry.folder && (inside || IsBelow(path, entry.path));
    });
    return count;
}

}  // namespace Zorvik::Cli
