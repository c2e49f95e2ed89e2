// What an update writes, before the engine sees it: the entries of the open archive that are not
// copied unchanged (the RemovalSet) and the plan, one item per entry written with new properties,
// new data or both. The builders make them from a caller's arguments; the conflict check compares
// the plan with the entries already in the archive.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "model/FileSystemProperties.h"
#include "zorvik/Update.h"
#include "zorvik/runtime/async.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Impl {

class PackedTree;

// IndexInArchive of an item that stands for no entry of the open archive.
inline constexpr std::uint32_t kNewItem = 0xFFFFFFFF;

class IUpdateItem {
public:
    virtual std::uint32_t IndexInArchive() const = 0;
    virtual bool HasNewProperties() const = 0;
    virtual bool HasNewData() const = 0;
    virtual zorvik::rt::com_ptr<FileSystemProperties> Properties() const = 0;
    // Null for an item without new data.
    virtual zorvik::rt::com_ptr<IRandomAccessStream> ContentStream() const = 0;
    // POSIX type and permission bits the caller gave; 0 when unknown.
    virtual std::uint32_t Mode() const = 0;
    // The target, UTF-8, of a symbolic link the caller adds; empty otherwise.
    virtual std::string_view SymbolicLinkTarget() const = 0;
    // The node of the archive's tree the item stands for; null for a new item.
    virtual zorvik::rt::com_ptr<IArchiveItem> Source() const = 0;
    virtual ~IUpdateItem() = default;
};

using UpdatePlan = std::vector<std::shared_ptr<IUpdateItem>>;
using RemovalSet = std::set<std::uint32_t>;

// Content offered by the caller.
class NewArchiveItem final : public IUpdateItem {
public:
    // Its path is taken as a file system reads one: "a//b", "./a/b" and "a/b/" are "a/b".
    // Raises when the addable has no IFileSystemProperties, when its path leaves the archive
    // (a ".." component) or names nothing, or when it is a link that cannot be (E_INVALIDARG):
    // a folder with a target, a mode of type S_IFLNK without one, a target holding NUL. A
    // link's mode is S_IFLNK | 0777, as links have no permissions of their own.
    explicit NewArchiveItem(zorvik::rt::com_ptr<IArchiveAddable> source);

    std::uint32_t IndexInArchive() const override { return kNewItem; }
    bool HasNewProperties() const override { return true; }
    bool HasNewData() const override { return true; }
    zorvik::rt::com_ptr<FileSystemProperties> Properties() const override { return properties_; }
    zorvik::rt::com_ptr<IRandomAccessStream> ContentStream() const override;
    std::uint32_t Mode() const override { return mode_; }
    std::string_view SymbolicLinkTarget() const override { return linkTarget_; }
    zorvik::rt::com_ptr<IArchiveItem> Source() const override { return nullptr; }

private:
    zorvik::rt::com_ptr<IArchiveAddable> source_;
    zorvik::rt::com_ptr<FileSystemProperties> properties_;
    std::uint32_t mode_ = 0;
    std::string linkTarget_;
};

// An entry of the open archive that keeps its data under a new path.
class ItemWithUpdatedProperties final : public IUpdateItem {
public:
    ItemWithUpdatedProperties(const zorvik::rt::com_ptr<IArchiveItem>& source, std::wstring newPath);

    std::uint32_t IndexInArchive() const override { return index_; }
    bool HasNewProperties() const override { return true; }
    bool HasNewData() const override { return false; }
    zorvik::rt::com_ptr<FileSystemProperties> Properties() const override { return properties_; }
    zorvik::rt::com_ptr<IRandomAccessStream> ContentStream() const override { return nullptr; }
    std::uint32_t Mode() const override { return 0; }
    // Kept from the open archive, as its other properties are.
    std::string_view SymbolicLinkTarget() const override { return {}; }
    zorvik::rt::com_ptr<IArchiveItem> Source() const override { return source_; }

private:
    zorvik::rt::com_ptr<IArchiveItem> source_;
    zorvik::rt::com_ptr<FileSystemProperties> properties_;
    std::uint32_t index_;
};

// The entry node stands for; none for the root and implicit folders. Given the archive's tree,
// an entry of another tree is refused (E_INVALIDARG).
std::optional<std::uint32_t> EntryIndexOf(IArchiveItem& node, const PackedTree* tree = nullptr);
// Every entry of node and below it.
void AddEntriesBelow(const zorvik::rt::com_ptr<IArchiveItem>& node, RemovalSet& removal, const PackedTree* tree = nullptr);

// One NewArchiveItem per addable, in order.
UpdatePlan PlanAdd(const std::vector<zorvik::rt::com_ptr<IArchiveAddable>>& addables);
// The builders of removals, renames and moves take the archive's tree: an item (or target) of
// another tree is refused with E_INVALIDARG, as is anything of another tree found below one.
// The entries of the items and of everything below them.
void PlanRemove(const std::vector<zorvik::rt::com_ptr<IArchiveItem>>& items, RemovalSet& removal, const PackedTree* tree);
// Empty when the item has no parent (the root). Raises E_INVALIDARG for a name that is empty,
// "." or "..", or that holds a separator.
UpdatePlan PlanRename(const zorvik::rt::com_ptr<IArchiveItem>& item, std::wstring_view newName, const PackedTree* tree);
// Items without a parent are left out.
UpdatePlan PlanMove(const std::vector<zorvik::rt::com_ptr<IArchiveItem>>& items, IArchiveFolder* target, const PackedTree* tree);

// Every entry that the plan rewrites with new properties is no longer copied unchanged.
void ExtendCopySet(const UpdatePlan& plan, RemovalSet& removal);

}  // namespace Zorvik::Impl
