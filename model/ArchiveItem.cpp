#include "model/ArchiveItem.h"

#include "model/AbiValues.h"
#include "model/ArchiveFolder.h"

namespace Zorvik {

HRESULT ArchiveItem::GetProperties(IArchiveEntryProperties** value) const noexcept {
    if (!value) return E_POINTER;
    *value = nullptr;
    return zorvik::rt::boundary([&] { *value = tree_->Properties(node_).detach(); });
}

HRESULT ArchiveItem::GetName(HSTRING* value) const noexcept { return Impl::GiveText(tree_->Name(node_), value); }

HRESULT ArchiveItem::GetPath(HSTRING* value) const noexcept {
    if (tree_->HasProperties(node_) && !tree_->EntryPath(node_).empty()) return Impl::GiveText(tree_->EntryPath(node_), value);
    return GetRelativePath(nullptr, value);
}

HRESULT ArchiveItem::GetParent(IArchiveFolder** value) const noexcept {
    if (!value) return E_POINTER;
    *value = nullptr;
    return zorvik::rt::boundary([&] { *value = tree_->ReachableParent(node_).detach(); });
}

HRESULT ArchiveItem::GetRelativePath(IArchiveFolder* ancestor, HSTRING* path) const noexcept {
    if (!path) return E_POINTER;
    *path = nullptr;
    return zorvik::rt::boundary([&] { *path = zorvik::rt::hstring(tree_->RelativePath(node_, ancestor)).detach(); });
}

}  // namespace Zorvik
