// Builds an archive's item tree from the flat list of its entries.
#pragma once

#include <functional>
#include <unordered_map>
#include <vector>

#include "model/PackedTree.h"
#include "zorvik/Archive.h"
#include "zorvik/runtime/async.h"

namespace Zorvik::Impl {

// Reads entry `index` into `properties`, its path stored in `text` and never empty; false
// skips an entry that has no name to take.
using EntryReader = std::function<bool(std::uint32_t index, TextArena& text, EntryProperties& properties)>;

// Tells the caller's progress how many entries a build will read; its answer 1 cancels.
void ReportEntryCount(IOperationProgress& progress, std::uint32_t count);

class TreeBuilder {
public:
    TreeBuilder(PackedTree& tree, EntryReader readEntry, zorvik::rt::com_ptr<IOperationProgress> progress);

    // Adds the entries in archive order, reporting each index handled.
    void AddEntries(std::uint32_t count, const zorvik::rt::cancellation_token& cancellation);

private:
    // Sub-folders by parent and exact name; needed only while building.
    struct FolderKey {
        std::uint32_t Parent;
        PackedText Name;
        bool operator==(const FolderKey& other) const noexcept { return Parent == other.Parent && Name == other.Name; }
    };
    struct FolderKeyHash {
        std::size_t operator()(const FolderKey& key) const noexcept {
            std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
            for (std::uint32_t i = 0; i < key.Name.size(); ++i) hash = (hash ^ static_cast<std::uint32_t>(key.Name[i])) * 1099511628211ull;
            return static_cast<std::size_t>(hash ^ (std::size_t(key.Parent) * 0x9E3779B97F4A7C15ull));
        }
    };

    // False when the entry has no path and cannot take the archive's name.
    bool AddEntry(std::uint32_t index);
    // The sub-folder of that name, made without properties when absent.
    std::uint32_t FolderNamed(std::uint32_t parent, PackedText name);
    // A folder for a directory entry; when one of that name exists already, it takes the
    // properties only if it had none.
    void AddFolder(std::uint32_t parent, PackedText name, const EntryProperties& properties);

    PackedTree& tree_;
    EntryReader readEntry_;
    zorvik::rt::com_ptr<IOperationProgress> progress_;
    std::unordered_map<FolderKey, std::uint32_t, FolderKeyHash> folders_;
    std::vector<PackedText> components_;  // reused for every path
    // The folder of the previous entry and the path text that led to it.
    PackedText lastFolderPath_;
    std::uint32_t lastParent_ = kNoNode;
};

}  // namespace Zorvik::Impl
