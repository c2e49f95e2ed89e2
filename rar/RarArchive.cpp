#include "rar/RarArchive.h"

#include <numeric>
#include <vector>

#include "rar/RarArchiveExtractCallbackAdapter.h"
#include "rar/ReaderInputStream.h"
#include "rar/RarOpenArchiveCallbackAdapter.h"
#include "rar/UnRAR.Shared/UnRAR.h"
#include "zorvik/runtime/errors.h"
#include "zorvik/runtime/oleauto.h"

namespace Zorvik::Impl::RAR {

using zorvik::rt::com_ptr;

namespace {

constexpr std::uint32_t kAllItems = 0xFFFFFFFF;

FILETIME ToFileTime(std::uint64_t ticks) {
    FILETIME time{};
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

// The attributes as the engine's handlers give them: Windows attributes, or a POSIX mode in the
// high half with the engine's mark for it.
std::uint32_t EngineAttributes(const UnRAR::EntryInfo& entry) {
    constexpr std::uint32_t kDirectoryAttribute = 0x10;  // FILE_ATTRIBUTE_DIRECTORY
    if (!entry.unixAttributes) return entry.attributes;
    return entry.attributes << 16 | Engine::kAttribUnixExtension | (entry.isDirectory ? kDirectoryAttribute : 0);
}

}  // namespace

Archive::Archive() : reader_(std::make_unique<UnRAR::Reader>()) {}

Archive::~Archive() = default;

HRESULT Archive::Open(Engine::IInStream* stream, const std::uint64_t*, Engine::IArchiveOpenCallback* openCallback) {
    if (!stream) return E_INVALIDARG;
    return zorvik::rt::boundary([&] {
        auto input = std::make_shared<ReaderInputStream>(com_ptr<Engine::IInStream>::copy_from(stream));
        auto callback = std::make_shared<OpenArchiveCallbackAdapter>(com_ptr<Engine::IArchiveOpenCallback>::copy_from(openCallback));
        return static_cast<HRESULT>(reader_->Open(std::move(input), std::move(callback)));
    });
}

HRESULT Archive::Close() {
    reader_->Close();
    return S_OK;
}

HRESULT Archive::GetNumberOfItems(std::uint32_t* numItems) {
    if (!numItems) return E_POINTER;
    if (!reader_->IsOpen()) return E_FAIL;
    *numItems = reader_->ItemCount();
    return S_OK;
}

HRESULT Archive::GetProperty(std::uint32_t index, Engine::PROPID propID, PROPVARIANT* value) {
    if (!value) return E_POINTER;
    if (index >= reader_->ItemCount()) return E_INVALIDARG;
    return zorvik::rt::boundary([&] {
        const UnRAR::EntryInfo& entry = reader_->FirstEntry(index);
        zorvik::rt::prop_variant property;
        switch (propID) {
        case Engine::kpidPath: property.set_string(entry.name); break;
        case Engine::kpidIsDir: property.set_bool(entry.isDirectory); break;
        case Engine::kpidSize: property.set_uint64(static_cast<std::uint64_t>(entry.unpackedSize)); break;
        case Engine::kpidPackSize: property.set_uint64(reader_->PackedSize(index)); break;
        case Engine::kpidCTime: property.set_filetime(ToFileTime(entry.creationTime)); break;
        case Engine::kpidATime: property.set_filetime(ToFileTime(entry.accessTime)); break;
        case Engine::kpidMTime: property.set_filetime(ToFileTime(entry.modificationTime)); break;
        case Engine::kpidEncrypted: property.set_bool(entry.isEncrypted); break;
        case Engine::kpidAttrib: property.set_uint32(EngineAttributes(entry)); break;
        case Engine::kpidPosixAttrib:
            if (entry.unixAttributes) property.set_uint32(entry.attributes);
            break;
        case Engine::kpidSymLink:
            if (entry.link == UnRAR::LinkKind::Symbolic) property.set_string(entry.linkTarget);
            break;
        case Engine::kpidHardLink:
            if (entry.link == UnRAR::LinkKind::Hard) property.set_string(entry.linkTarget);
            break;
        default: break;
        }
        property.detach_to(value);
        return S_OK;
    });
}

HRESULT Archive::Extract(const std::uint32_t* indices, std::uint32_t numItems, std::int32_t,
                         Engine::IArchiveExtractCallback* extractCallback) {
    if (!extractCallback) return E_INVALIDARG;
    if (!indices && numItems != 0 && numItems != kAllItems) return E_INVALIDARG;
    return zorvik::rt::boundary([&] {
        std::vector<std::uint32_t> list;
        if (!indices && numItems == kAllItems) {
            list.resize(reader_->ItemCount());
            std::iota(list.begin(), list.end(), 0u);
        } else {
            list.assign(indices, indices + numItems);
        }
        auto callback =
            std::make_shared<ArchiveExtractCallbackAdapter>(com_ptr<Engine::IArchiveExtractCallback>::copy_from(extractCallback));
        return static_cast<HRESULT>(reader_->Extract(list, std::move(callback)));
    });
}

HRESULT Archive::GetArchiveProperty(Engine::PROPID propID, PROPVARIANT* value) {
    if (!value) return E_POINTER;
    return zorvik::rt::boundary([&] {
        zorvik::rt::prop_variant result;
        if (propID == Engine::kpidErrorFlags) {
            const std::uint32_t flags = (reader_->HeadersDamaged() ? Engine::kErrorFlagsHeadersError : 0) |
                                        (reader_->CutShort() ? Engine::kErrorFlagsUnexpectedEnd : 0);
            if (flags != 0) result.set_uint32(flags);
        }
        result.detach_to(value);
        return S_OK;
    });
}

HRESULT Archive::GetNumberOfProperties(std::uint32_t*) { return E_NOTIMPL; }

HRESULT Archive::GetPropertyInfo(std::uint32_t, BSTR*, Engine::PROPID*, VARTYPE*) { return E_NOTIMPL; }

HRESULT Archive::GetNumberOfArchiveProperties(std::uint32_t*) { return E_NOTIMPL; }

HRESULT Archive::GetArchivePropertyInfo(std::uint32_t, BSTR*, Engine::PROPID*, VARTYPE*) { return E_NOTIMPL; }

}  // namespace Zorvik::Impl::RAR
