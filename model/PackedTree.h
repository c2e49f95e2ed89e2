// The item tree of an archive, packed: one record a node in blocks, every name and path once in
// a text arena, and no object a node until someone asks for one. The folders, files, properties
// and item vectors handed out are views of a record, made on demand and found again while
// anyone holds them, so that each keeps one identity for as long as it is in use.
//
// The records only grow, from one building thread, before anyone reads them (callers do not
// read a tree while it is built). What concerns the objects handed out is guarded by a mutex.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/ArchiveEntryProperties.h"
#include "model/NameOrder.h"
#include "model/TextArena.h"
#include "zorvik/Items.h"

namespace Zorvik {
class ArchiveFile;
class ArchiveFolder;
}  // namespace Zorvik

namespace Zorvik::Impl {

class FolderItems;

inline constexpr std::uint32_t kNoNode = UINT32_MAX;

class PackedTree : public std::enable_shared_from_this<PackedTree> {
public:
    // Nodes are numbered in the order they are added, the root first.
    static constexpr std::uint32_t kRoot = 0;

    PackedTree();
    ~PackedTree();
    PackedTree(const PackedTree&) = delete;
    PackedTree& operator=(const PackedTree&) = delete;

    // Building. name must live in Text() (or be a view of text that does).
    TextArena& Text() noexcept { return text_; }
    std::uint32_t AddFolder(std::uint32_t parent, PackedText name, const EntryProperties* properties);
    std::uint32_t AddFile(std::uint32_t parent, PackedText name, const EntryProperties& properties);
    // An implicit folder takes the properties of a directory entry listed after its content.
    void GiveProperties(std::uint32_t folder, const EntryProperties& properties);

    // Reading.
    bool IsFolder(std::uint32_t node) const noexcept { return (nodes_[node].flags & kFolder) != 0; }
    bool HasProperties(std::uint32_t node) const noexcept { return (nodes_[node].flags & kHasProperties) != 0; }
    bool IsEncrypted(std::uint32_t node) const noexcept { return (nodes_[node].flags & kEncrypted) != 0; }
    PackedText Name(std::uint32_t node) const noexcept;
    // The path the handler gave; empty for nodes without properties.
    PackedText EntryPath(std::uint32_t node) const;
    std::uint32_t EntryIndex(std::uint32_t node) const noexcept { return nodes_[node].entry; }
    std::uint64_t Size(std::uint32_t node) const noexcept { return IsFolder(node) ? 0 : nodes_[node].content.file.size; }
    std::uint64_t PackedSize(std::uint32_t node) const noexcept { return IsFolder(node) ? 0 : nodes_[node].content.file.packedSize; }
    std::int64_t Modified(std::uint32_t node) const noexcept { return nodes_[node].modified; }
    std::int64_t Created(std::uint32_t node) const noexcept { return node < otherTimes_.size() ? otherTimes_[node].created : 0; }
    std::int64_t Accessed(std::uint32_t node) const noexcept { return node < otherTimes_.size() ? otherTimes_[node].accessed : 0; }
    std::uint16_t Mode(std::uint32_t node) const noexcept { return nodes_[node].mode; }
    struct LinkTargets {
        PackedText Symbolic;
        PackedText Hard;
    };
    // Where a link points; both empty for the others.
    LinkTargets Links(std::uint32_t node) const;
    // The children of a folder in the order they were added.
    std::vector<std::uint32_t> Children(std::uint32_t folder) const;
    const NameOrder& Order() const noexcept { return order_; }

    struct FileTotals {
        std::uint64_t Count = 0;
        std::uint64_t Size = 0;
    };
    FileTotals Totals() const noexcept;

    // The objects of a node: the one in use, else a new one.
    zorvik::rt::com_ptr<IArchiveItem> Item(std::uint32_t node);
    zorvik::rt::com_ptr<ArchiveFolder> Folder(std::uint32_t node);
    zorvik::rt::com_ptr<ArchiveFile> File(std::uint32_t node);
    zorvik::rt::com_ptr<ArchiveEntryProperties> Properties(std::uint32_t node);
    // A folder's item vector; keeper (a member of the folder's object) holds it from the first
    // call on, so that the folder answers with the same vector while it lives.
    zorvik::rt::com_ptr<FolderItems> Items(std::uint32_t folder, zorvik::rt::com_ptr<FolderItems>& keeper);
    // The item object of node in use, if any; none is made.
    zorvik::rt::com_ptr<IArchiveItem> ItemInUse(std::uint32_t node);
    // Called by each object as it goes.
    void Forget(std::uint32_t node, const void* object) noexcept;

    // A folder holds its children: a node is reachable while an object of it or of one of its
    // folders is in use. The parent of node when reachable, else null.
    zorvik::rt::com_ptr<ArchiveFolder> ReachableParent(std::uint32_t node);
    // Names from below ancestor (an object of one of node's folders; null for the root) down to
    // node, joined with "/". Folders no longer reachable end the walk, as the root does.
    std::wstring RelativePath(std::uint32_t node, const IArchiveFolder* ancestor);
    // The same below the folder numbered ancestor (kNoNode for the root).
    std::wstring RelativePathBelow(std::uint32_t node, std::uint32_t ancestor);

    // An item vector that a caller changed keeps its order, and one with handlers keeps them,
    // while the tree is the archive's, whoever holds its folder.
    void Pin(zorvik::rt::com_ptr<FolderItems> items);
    // The archive lets go of the tree: pinned vectors (and the objects they hold, which hold the
    // tree) are released.
    void ReleasePins() noexcept;

private:
    enum Flags : std::uint8_t {
        kFolder = 1,
        kHasProperties = 2,
        kEncrypted = 4,
        // The text is the name, made from the archive's; the entry has no path.
        kNamedByArchive = 8,
        // The text is the name, and the entry's path (which does not end in it) is in pathsApart_.
        kPathApart = 16,
    };

    // 56 bytes. The name is the end of the text, which is the entry's path for nodes with
    // properties, and the name alone for the others.
    struct Node {
        const void* text = nullptr;
        std::uint32_t textLength = 0;  // as PackedText stores it, with the width
        std::uint32_t nameLength = 0;
        std::uint32_t parent = kNoNode;
        std::uint32_t nextSibling = kNoNode;
        std::uint32_t entry = 0;  // the handler's index, with kHasProperties
        std::uint8_t flags = 0;
        std::uint16_t mode = 0;  // st_mode's type and permission bits fit, in what would be padding
        // A folder counts as empty and a file has no children, so the two share their place.
        union {
            struct {
                std::uint64_t size;
                std::uint64_t packedSize;
            } file;
            struct {
                std::uint32_t firstChild;
                std::uint32_t lastChild;
            } folder;
        } content{};
        std::int64_t modified = 0;
    };
    static_assert(sizeof(void*) != 8 || sizeof(Node) == 56, "a node record grew");
    // Few archives record these: they take room only from the first node that has them on.
    struct OtherTimes {
        std::int64_t created = 0;
        std::int64_t accessed = 0;
    };

    // Objects in use for a node, held without a reference; each clears its slot as it goes.
    struct InUse {
        ArchiveFolder* folder = nullptr;
        ArchiveFile* file = nullptr;
        ArchiveEntryProperties* properties = nullptr;
        FolderItems* items = nullptr;
    };

    std::uint32_t Add(std::uint32_t parent, PackedText name, std::uint8_t flags);
    void SetProperties(std::uint32_t node, const EntryProperties& properties);
    template <typename Object>
    zorvik::rt::com_ptr<Object> Obtain(std::uint32_t node, Object* InUse::*slot);
    template <typename Object>
    zorvik::rt::com_ptr<Object> ObtainLocked(std::uint32_t node, Object* InUse::*slot);
    // Under mutex_: whether an item object of node or of one of its folders is in use; the
    // topmost such node, or kNoNode.
    std::uint32_t TopmostInUse(std::uint32_t node) const;
    template <typename IsAncestor>
    std::wstring RelativePathUntil(std::uint32_t node, IsAncestor isAncestor);
    bool ItemInUseLocked(std::uint32_t node) const;

    PackedText Text(const Node& node) const noexcept { return {node.text, node.textLength}; }

    std::deque<Node> nodes_;
    std::deque<OtherTimes> otherTimes_;
    std::unordered_map<std::uint32_t, PackedText> pathsApart_;
    std::unordered_map<std::uint32_t, LinkTargets> links_;  // few entries are links
    TextArena text_;
    const NameOrder order_;

    std::mutex mutex_;
    std::unordered_map<std::uint32_t, InUse> inUse_;
    std::vector<zorvik::rt::com_ptr<FolderItems>> pinned_;
};

}  // namespace Zorvik::Impl
