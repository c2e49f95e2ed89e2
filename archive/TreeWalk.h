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
// Anything else in its place is refused: its index would reach the engine unchecked.
zorvik::rt::com_ptr<ArchiveEntryProperties> EntryPropertiesOf(IArchiveItem& node);

// A folder's children in the order of its Items; none for a file.
std::vector<zorvik::rt::com_ptr<IArchiveItem>> ChildrenOf(IArchiveItem& node);

// Visits node and everything below it, each node before its children, children in Items order.
void VisitDepthFirst(const zorvik::rt::com_ptr<IArchiveItem>& node, const std::function<void(const zorvik::rt::com_ptr<IArchiveItem>&)>& visit);

}  // namespace Zorvik::Impl
