#include "model/ArchiveItem.h"

#include <algorithm>

#include "model/AbiValues.h"
#include "model/ArchiveFile.h"
#include "model/ArchiveFolder.h"

namespace Zorvik {

namespace {
// Objects are told apart by their class names, which only the component's own nodes carry.
bool IsOf(std::wstring_view name, std::string_view className) {
    return std::equal(name.begin(), name.end(), className.begin(), className.end(),
                      [](wchar_t a, char b) { return a == static_cast<unsigned char>(b); });
}

zorvik::rt::hstring ClassOf(IInspectable* object) {
    zorvik::rt::hstring name;
    zorvik::rt::check_hresult(object->GetRuntimeClassName(name.put()));
    return name;
}
}  // namespace

const ArchiveItem* ArchiveItem::Of(IArchiveItem* item) {
    if (!item) return nullptr;
    const zorvik::rt::hstring name = ClassOf(item);
    if (IsOf(name.view(), ArchiveFile::runtime_class_name)) return &static_cast<ArchiveFile*>(item)->Item();
    if (IsOf(name.view(), ArchiveFolder::runtime_class_name)) return &static_cast<ArchiveFolder*>(item)->Item();
    return nullptr;
}

const ArchiveItem* ArchiveItem::Of(IArchiveFolder* folder) {
    if (!folder || !IsOf(ClassOf(folder).view(), ArchiveFolder::runtime_class_name)) return nullptr;
    return &static_cast<ArchiveFolder*>(folder)->Item();
}

HRESULT ArchiveItem::GetProperties(IArchiveEntryProperties** value) const noexcept {
    return Impl::GiveMade(value, [&] { return tree_->Properties(node_).detach(); });
}

HRESULT ArchiveItem::GetName(HSTRING* value) const noexcept { return Impl::GiveText(tree_->Name(node_), value); }

HRESULT ArchiveItem::GetPath(HSTRING* value) const noexcept {
    if (tree_->HasProperties(node_) && !tree_->EntryPath(node_).empty()) return Impl::GiveText(tree_->EntryPath(node_), value);
    return GetRelativePath(nullptr, value);
}

HRESULT ArchiveItem::GetParent(IArchiveFolder** value) const noexcept {
    return Impl::GiveMade(value, [&] { return tree_->ReachableParent(node_).detach(); });
}

HRESULT ArchiveItem::GetRelativePath(IArchiveFolder* ancestor, HSTRING* path) const noexcept {
    return Impl::GiveMade(path, [&] { return zorvik::rt::hstring(tree_->RelativePath(node_, ancestor)).detach(); });
}

}  // namespace Zorvik
