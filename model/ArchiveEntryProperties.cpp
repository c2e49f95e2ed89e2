#include "model/ArchiveEntryProperties.h"

#include "archive/Archive.h"
#include "archive/EngineReference.h"
#include "engine/EngineText.h"
#include "model/AbiValues.h"
#include "zorvik/runtime/oleauto.h"

namespace Zorvik {

using Impl::GiveValue;

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
// engine marks it there (7z, zip and RAR 4 keep it so).
std::uint32_t PosixModeOf(const zorvik::rt::prop_variant& posix, const zorvik::rt::prop_variant& attributes) {
    if (posix.type() == VT_UI4) return posix.get().ulVal;
    if (attributes.type() == VT_UI4 && (attributes.get().ulVal & Engine::kAttribUnixExtension)) return attributes.get().ulVal >> 16;
    return 0;
}

std::int64_t TicksOf(const zorvik::rt::prop_variant& value) {
    const auto time = value.as_filetime();
    if (!time) return 0;
    return static_cast<std::int64_t>(std::uint64_t(time->dwHighDateTime) << 32 | time->dwLowDateTime);
}

}  // namespace

ArchiveEntryProperties::ArchiveEntryProperties(Archive& archive, std::uint32_t index) : index_(index) {
    const Impl::EngineReference handler(archive);  // raises when nothing is open
    Read(handler.get());
}

ArchiveEntryProperties::ArchiveEntryProperties(Engine::IInArchive* handler, std::uint32_t index) : index_(index) {
    zorvik::rt::check_pointer(handler);
    Read(handler);
}

void ArchiveEntryProperties::Read(Engine::IInArchive* handler) {
    using namespace Engine;
    const auto path = ReadProperty(handler, index_, kpidPath);
    if (const auto stored = path.as_string(); stored && !stored->empty()) {
        const std::wstring text = Impl::FromEngineText(*stored);
        path_ = std::make_unique_for_overwrite<wchar_t[]>(text.size());
        text.copy(path_.get(), text.size());
        pathLength_ = static_cast<std::uint32_t>(text.size());
    }
    if (const auto isDir = ReadProperty(handler, index_, kpidIsDir); !isDir.empty()) isFolder_ = IsNonZero(isDir);
    // Handlers report sizes for directories too; a folder counts as empty and unencrypted.
    if (!isFolder_) {
        size_ = ReadProperty(handler, index_, kpidSize).as_uint64().value_or(0);
        packedSize_ = ReadProperty(handler, index_, kpidPackSize).as_uint64().value_or(0);
        if (const auto encrypted = ReadProperty(handler, index_, kpidEncrypted); !encrypted.empty()) isEncrypted_ = IsNonZero(encrypted);
    }
    modified_ = TicksOf(ReadProperty(handler, index_, kpidMTime));
    created_ = TicksOf(ReadProperty(handler, index_, kpidCTime));
    accessed_ = TicksOf(ReadProperty(handler, index_, kpidATime));
    ReadPosixProperties(handler);
}

void ArchiveEntryProperties::ReadPosixProperties(Engine::IInArchive* handler) {
    using namespace Engine;
    mode_ = PosixModeOf(ReadProperty(handler, index_, kpidPosixAttrib), ReadProperty(handler, index_, kpidAttrib));
    LinkTargets links{LinkTargetOf(ReadProperty(handler, index_, kpidSymLink)), LinkTargetOf(ReadProperty(handler, index_, kpidHardLink))};
    if (!links.symbolic.empty() || !links.hard.empty()) links_ = std::make_unique<LinkTargets>(std::move(links));
}

HRESULT ArchiveEntryProperties::get_PackedSize(std::uint64_t* value) { return GiveValue(packedSize_, value); }
HRESULT ArchiveEntryProperties::get_Path(HSTRING* value) { return Impl::GiveString(Path(), value); }
HRESULT ArchiveEntryProperties::get_Size(std::uint64_t* value) { return GiveValue(size_, value); }
HRESULT ArchiveEntryProperties::get_DateModified(DateTime* value) { return GiveValue(DateTime{modified_}, value); }
HRESULT ArchiveEntryProperties::get_DateCreated(DateTime* value) { return GiveValue(DateTime{created_}, value); }
HRESULT ArchiveEntryProperties::get_DateAccessed(DateTime* value) { return GiveValue(DateTime{accessed_}, value); }
HRESULT ArchiveEntryProperties::get_IsFolder(bool* value) { return GiveValue(isFolder_, value); }
HRESULT ArchiveEntryProperties::get_IsEncrypted(bool* value) { return GiveValue(isEncrypted_, value); }
HRESULT ArchiveEntryProperties::get_Mode(std::uint32_t* value) { return GiveValue(mode_, value); }
HRESULT ArchiveEntryProperties::get_SymbolicLinkTarget(HSTRING* value) { return Impl::GiveString(links_ ? links_->symbolic : L"", value); }
HRESULT ArchiveEntryProperties::get_HardLinkTarget(HSTRING* value) { return Impl::GiveString(links_ ? links_->hard : L"", value); }

}  // namespace Zorvik
