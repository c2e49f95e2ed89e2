// Walking nodes of an Archive's item tree through their public interfaces, as extraction and
// update choose entries.
#pragma once

#include <functional>
#include <vector>

#include "model/ArchiveEntryProperties.h"
#include "zorvik/Items.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Impl {

// The component's own properties object behind a node; null for nodes that stand for no entry.
// Anything else in its place is refused: its index would reach the engine unchecked. Given the
// archive's tree, an entry of another tree (of an earlier open, of another Archive) is refused
// too (E_INVALIDARG): its index names another entry, or none, of this archive.
zorvik::rt::com_ptr<ArchiveEntryProperties> EntryPropertiesOf(IArchiveItem& node, const PackedTree* tree = nullptr);

// Raises E_INVALIDARG unless node belongs to tree: a node of it, or an item standing for one of
// its entries.
void CheckNodeOf(const PackedTree* tree, IArchiveItem& node);
// The tree of an Archive's root folder.
const PackedTree* TreeOf(IArchiveFolder* root);

// A folder's children in the order of its Items; none for a file.
std::vector<zorvik::rt::com_ptr<IArchiveItem>> ChildrenOf(IArchiveItem& node);

// Visits node and everything below it, each node before its children, children in Items order.
void VisitDepthFirst(const zorvik::rt::com_ptr<IArchiveItem>& node,
                     const std::function<void(const zorvik::rt::com_ptr<IArchiveItem>&)>& visit);

}  // namespace Zorvik::Impl
