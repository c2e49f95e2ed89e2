// Builds an Archive's item tree from the flat list of entries its handler reports.
#pragma once

#include <memory>
#include <unordered_map>
#include <vector>

#include "Zorvik/Archive.h"
#include "Zorvik/Items.h"
#include "engine/EngineInterfaces.h"
#include "model/PackedTree.h"
#include "zorvik/runtime/async.h"

namespace Zorvik {
class Archive;
}  // namespace Zorvik

namespace Zorvik::Impl {

// The body of GetRootFolderAsync: the tree already built (waiting for a build in progress), or
// a new one stored in the Archive's RootFolder before its entries are added, so that a cancel
// or a failure leaves the part built so far. Raises E_ILLEGAL_METHOD_CALL when nothing is open.
zorvik::rt::com_ptr<IArchiveFolder> GetRootFolder(Archive& archive, IOperationProgress* progress,
                                                  const zorvik::rt::cancellation_token& cancellation);

class TreeBuilder {
public:
    // handler is the archive's, held by the caller for the builder's lifetime.
    TreeBuilder(Archive& archive, Engine::IInArchive* handler, PackedTree& tree, zorvik::rt::com_ptr<IOperationProgress> progress);

    // Adds the entries in handler order, reporting each index handled.
    void AddEntries(std::uint32_t count, const zorvik::rt::cancellation_token& cancellation);

private:
    // Sub-folders by parent and name, without regard to case; needed only while building.
    struct FolderKey {
        std::uint32_t Parent;
        PackedText Name;
    };
    struct FolderKeyHash {
        const NameOrder* Order;
        std::size_t operator()(const FolderKey& key) const { return Order->Hash(key.Name) ^ (std::size_t(key.Parent) * 0x9E3779B97F4A7C15ull); }
    };
    struct FolderKeyEqual {
        const NameOrder* Order;
        bool operator()(const FolderKey& a, const FolderKey& b) const { return a.Parent == b.Parent && Order->Same(a.Name, b.Name); }
    };

    // False when the entry has no path and cannot take the archive's name.
    bool AddEntry(std::uint32_t index);
    // The sub-folder of that name, made without properties when absent.
    std::uint32_t FolderNamed(std::uint32_t parent, PackedText name);
    // A folder for a directory entry; when one of that name (in any case) exists already, it
    // keeps its name and takes the properties only if it had none.
    void AddFolder(std::uint32_t parent, PackedText name, const EntryProperties& properties);

    Archive& archive_;
    Engine::IInArchive* handler_;
    PackedTree& tree_;
    zorvik::rt::com_ptr<IOperationProgress> progress_;
    std::unordered_map<FolderKey, std::uint32_t, FolderKeyHash, FolderKeyEqual> folders_;
    std::vector<PackedText> components_;  // reused for every path
    // The folder of the previous entry and the path text that led to it.
    PackedText lastFolderPath_;
    std::uint32_t lastParent_ = kNoNode;
};

}  // namespace Zorvik::Impl
