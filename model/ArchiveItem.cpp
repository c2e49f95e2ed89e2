#include "model/ArchiveItem.h"

#include <functional>
#include <vector>

#include "model/AbiValues.h"
#include "model/ArchiveFolder.h"

namespace Zorvik {

using zorvik::rt::com_ptr;

namespace {
// Whether name is a view of the end of text.
bool EndsWithin(std::wstring_view name, std::wstring_view text) noexcept {
    return std::greater_equal<const wchar_t*>()(name.data(), text.data()) && name.data() + name.size() == text.data() + text.size();
}
}  // namespace

ArchiveItem::ArchiveItem(std::wstring_view name, com_ptr<ArchiveEntryProperties> properties) : properties_(std::move(properties)) {
    if (properties_ && EndsWithin(name, properties_->Path()))
        nameOffset_ = static_cast<std::uint32_t>(name.data() - properties_->Path().data());
    else
        ownName_ = std::make_unique<const std::wstring>(name);
}

std::wstring_view ArchiveItem::Name() const noexcept {
    if (ownName_) return *ownName_;
    return properties_->Path().substr(nameOffset_);
}

void ArchiveItem::SetProperties(com_ptr<ArchiveEntryProperties> properties) {
    if (!ownName_) ownName_ = std::make_unique<const std::wstring>(Name());
    properties_ = std::move(properties);
}

void ArchiveItem::SetParent(ArchiveFolder& parent) {
    com_ptr<IWeakReferenceSource> source;
    zorvik::rt::check_hresult(static_cast<IArchiveFolder&>(parent).QueryInterface(IWeakReferenceSource::iid, source.put_void()));
    com_ptr<IWeakReference> weak;
    zorvik::rt::check_hresult(source->GetWeakReference(weak.put()));
    parent_ = std::move(weak);
}

com_ptr<ArchiveFolder> ArchiveItem::Parent() const {
    if (!parent_) return nullptr;
    IInspectable* resolved = nullptr;
    zorvik::rt::check_hresult(parent_->Resolve(IArchiveFolder::iid, &resolved));
    // The weak reference answers with the interface asked for, and only folders are parents.
    com_ptr<IArchiveFolder> folder;
    folder.attach(reinterpret_cast<IArchiveFolder*>(resolved));
    return com_ptr<ArchiveFolder>::copy_from(static_cast<ArchiveFolder*>(folder.get()));
}

std::wstring ArchiveItem::RelativePath(const IArchiveFolder* ancestor) const {
    std::vector<com_ptr<ArchiveFolder>> folders;  // innermost first
    for (com_ptr<ArchiveFolder> folder = Parent(); folder && static_cast<IArchiveFolder*>(folder.get()) != ancestor;) {
        com_ptr<ArchiveFolder> above = folder->Item().Parent();
        if (!above) break;  // the root's name is never part of a path
        folders.push_back(std::move(folder));
        folder = std::move(above);
    }
    std::wstring path;
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        path += (*folder)->Item().Name();
        path += L'\\';
    }
    path += Name();
    return path;
}

std::wstring ArchiveItem::Path() const {
    if (properties_ && !properties_->Path().empty()) return std::wstring(properties_->Path());
    return RelativePath(nullptr);
}

HRESULT ArchiveItem::GetProperties(IArchiveEntryProperties** value) const noexcept { return Impl::GiveReference(properties_, value); }

HRESULT ArchiveItem::GetName(HSTRING* value) const noexcept { return Impl::GiveString(Name(), value); }

HRESULT ArchiveItem::GetPath(HSTRING* value) const noexcept {
    return zorvik::rt::boundary([&] {
        zorvik::rt::check_pointer(value);
        *value = zorvik::rt::hstring(Path()).detach();
    });
}

HRESULT ArchiveItem::GetParent(IArchiveFolder** value) const noexcept {
    return zorvik::rt::boundary([&] {
        zorvik::rt::check_pointer(value);
        *value = Parent().detach();
    });
}

HRESULT ArchiveItem::GetRelativePath(IArchiveFolder* ancestor, HSTRING* path) const noexcept {
    return zorvik::rt::boundary([&] {
        zorvik::rt::check_pointer(path);
        *path = zorvik::rt::hstring(RelativePath(ancestor)).detach();
    });
}

}  // namespace Zorvik
