#include "model/ArchiveEntryProperties.h"

#include <algorithm>

#include "engine/EngineText.h"
#include "model/AbiValues.h"
#include "model/PackedTree.h"
#include "zorvik/runtime/oleauto.h"

namespace Zorvik {

using Impl::GiveValue;
using Impl::PackedTree;

namespace {
zorvik::rt::prop_variant ReadProperty(Engine::IInArchive* handler, std::uint32_t index, PROPID id) {
    zorvik::rt::prop_variant value;
    // A failed read leaves the value empty, which every field treats as absent.
    handler->GetProperty(index, id, value.put());
    return value;
}

bool IsNonZero(const zorvik::rt::prop_variant& value) {
    if (auto flag = value.as_bool()) return *flag;
    return value.as_uint64().value_or(0) != 0;
}

std::wstring LinkTargetOf(const zorvik::rt::prop_variant& value) {
    const auto target = value.as_string();
    return target ? Impl::FromEngineText(*target) : std::wstring();
}

// The POSIX mode: the handler's own property, or the high half of the attributes where the
// engine marks it there (7z, zip and RAR 4 keep it so). st_mode's type and permission bits
// take 16 bits.
std::uint16_t PosixModeOf(const zorvik::rt::prop_variant& posix, const zorvik::rt::prop_variant& attributes) {
    if (posix.type() == VT_UI4) return static_cast<std::uint16_t>(posix.get().ulVal);
    if (attributes.type() == VT_UI4 && (attributes.get().ulVal & Engine::kAttribUnixExtension))
        return static_cast<std::uint16_t>(attributes.get().ulVal >> 16);
    return 0;
}

std::int64_t TicksOf(const zorvik::rt::prop_variant& value) {
    const auto time = value.as_filetime();
    if (!time) return 0;
    return static_cast<std::int64_t>(std::uint64_t(time->dwHighDateTime) << 32 | time->dwLowDateTime);
}

}  // namespace

namespace Impl {

EntryProperties ReadEntryProperties(Engine::IInArchive* handler, std::uint32_t index, TextArena& text) {
    using namespace Engine;
    EntryProperties entry;
    entry.Index = index;
    const auto path = ReadProperty(handler, index, kpidPath);
    if (const auto stored = path.as_string(); stored && !stored->empty()) {
        // Most names hold no pair to join: those go to the arena as the engine gave them.
        const bool paired = std::any_of(stored->begin(), stored->end(), IsHighSurrogate);
        entry.Path = paired ? text.Store(FromEngineText(*stored)) : text.Store(*stored);
    }
    if (const auto isDir = ReadProperty(handler, index, kpidIsDir); !isDir.empty()) entry.IsFolder = IsNonZero(isDir);
    // Handlers report sizes for directories too; a folder counts as empty and unencrypted.
    if (!entry.IsFolder) {
        entry.Size = ReadProperty(handler, index, kpidSize).as_uint64().value_or(0);
        entry.PackedSize = ReadProperty(handler, index, kpidPackSize).as_uint64().value_or(0);
        if (const auto encrypted = ReadProperty(handler, index, kpidEncrypted); !encrypted.empty())
            entry.IsEncrypted = IsNonZero(encrypted);
    }
    entry.Modified = TicksOf(ReadProperty(handler, index, kpidMTime));
    entry.Created = TicksOf(ReadProperty(handler, index, kpidCTime));
    entry.Accessed = TicksOf(ReadProperty(handler, index, kpidATime));
    entry.Mode = PosixModeOf(ReadProperty(handler, index, kpidPosixAttrib), ReadProperty(handler, index, kpidAttrib));
    if (const std::wstring target = LinkTargetOf(ReadProperty(handler, index, kpidSymLink)); !target.empty())
        entry.SymbolicLink = text.Store(target);
    if (const std::wstring target = LinkTargetOf(ReadProperty(handler, index, kpidHardLink)); !target.empty())
        entry.HardLink = text.Store(target);
    return entry;
}

}  // namespace Impl

ArchiveEntryProperties::ArchiveEntryProperties(std::shared_ptr<PackedTree> tree, std::uint32_t node)
    : tree_(std::move(tree)), node_(node) {}

ArchiveEntryProperties::ArchiveEntryProperties(Engine::IInArchive* handler, std::uint32_t index)
    : ArchiveEntryProperties(DetachedTree(handler, index), kDetachedNode) {}

ArchiveEntryProperties::~ArchiveEntryProperties() { tree_->Forget(node_, this); }

std::shared_ptr<PackedTree> ArchiveEntryProperties::DetachedTree(Engine::IInArchive* handler, std::uint32_t index) {
    zorvik::rt::check_pointer(handler);
    auto tree = std::make_shared<PackedTree>();
    const Impl::EntryProperties entry = Impl::ReadEntryProperties(handler, index, tree->Text());
    if (entry.IsFolder)
        tree->AddFolder(PackedTree::kRoot, entry.Path, &entry);
    else
        tree->AddFile(PackedTree::kRoot, entry.Path, entry);
    return tree;
}

std::uint32_t ArchiveEntryProperties::Index() const noexcept { return tree_->EntryIndex(node_); }
std::wstring ArchiveEntryProperties::Path() const { return tree_->EntryPath(node_).Wide(); }
std::uint64_t ArchiveEntryProperties::Size() const noexcept { return tree_->Size(node_); }
bool ArchiveEntryProperties::IsFolder() const noexcept { return tree_->IsFolder(node_); }

HRESULT ArchiveEntryProperties::get_PackedSize(std::uint64_t* value) { return GiveValue(tree_->PackedSize(node_), value); }
HRESULT ArchiveEntryProperties::get_Path(HSTRING* value) { return Impl::GiveText(tree_->EntryPath(node_), value); }
HRESULT ArchiveEntryProperties::get_Size(std::uint64_t* value) { return GiveValue(tree_->Size(node_), value); }
HRESULT ArchiveEntryProperties::get_DateModified(DateTime* value) { return GiveValue(DateTime{tree_->Modified(node_)}, value); }
HRESULT ArchiveEntryProperties::get_DateCreated(DateTime* value) { return GiveValue(DateTime{tree_->Created(node_)}, value); }
HRESULT ArchiveEntryProperties::get_DateAccessed(DateTime* value) { return GiveValue(DateTime{tree_->Accessed(node_)}, value); }
HRESULT ArchiveEntryProperties::get_IsFolder(bool* value) { return GiveValue(tree_->IsFolder(node_), value); }
HRESULT ArchiveEntryProperties::get_IsEncrypted(bool* value) { return GiveValue(tree_->IsEncrypted(node_), value); }
HRESULT ArchiveEntryProperties::get_Mode(std::uint32_t* value) { return GiveValue(std::uint32_t{tree_->Mode(node_)}, value); }
HRESULT ArchiveEntryProperties::get_SymbolicLinkTarget(HSTRING* value) { return Impl::GiveText(tree_->Links(node_).Symbolic, value); }
HRESULT ArchiveEntryProperties::get_HardLinkTarget(HSTRING* value) { return Impl::GiveText(tree_->Links(node_).Hard, value); }
HRESULT ArchiveEntryProperties::get_Index(std::uint32_t* value) { return GiveValue(Index(), value); }

}  // namespace Zorvik
