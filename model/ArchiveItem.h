// ArchiveItem: what every node of the tree is (a node of the packed tree) and its IArchiveItem
// members, which ArchiveFolder and ArchiveFile forward to.
#pragma once

#include <memory>
#include <string>

#include "model/PackedTree.h"
#include "zorvik/Items.h"

namespace Zorvik {

class ArchiveItem {
public:
    ArchiveItem(std::shared_ptr<Impl::PackedTree> tree, std::uint32_t node) noexcept : tree_(std::move(tree)), node_(node) {}

    HRESULT GetProperties(IArchiveEntryProperties** value) const noexcept;
    HRESULT GetName(HSTRING* value) const noexcept;
    HRESULT GetPath(HSTRING* value) const noexcept;
    HRESULT GetParent(IArchiveFolder** value) const noexcept;
    HRESULT GetRelativePath(IArchiveFolder* ancestor, HSTRING* path) const noexcept;

    // The node behind an item or folder object of the component's; null for anything else.
    static const ArchiveItem* Of(IArchiveItem* item);
    static const ArchiveItem* Of(IArchiveFolder* folder);

    Impl::PackedTree& Tree() const noexcept { return *tree_; }
    const std::shared_ptr<Impl::PackedTree>& SharedTree() const noexcept { return tree_; }
    std::uint32_t Node() const noexcept { return node_; }

private:
    const std::shared_ptr<Impl::PackedTree> tree_;
    const std::uint32_t node_;
};

}  // namespace Zorvik
