// An engine handler that reports entries a test describes, behind an Archive that "opened" it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "engine/EngineInterfaces.h"
#include "zorvik/runtime/implements.h"
#include "zorvik/runtime/oleauto.h"

namespace Zorvik::Testing {

struct FakeEntry {
    std::map<PROPID, zorvik::rt::prop_variant> Properties;

    FakeEntry& Set(PROPID id, zorvik::rt::prop_variant value) {
        Properties[id] = std::move(value);
        return *this;
    }
};

inline zorvik::rt::prop_variant StringValue(std::wstring_view text) {
    zorvik::rt::prop_variant value;
    value.set_string(text);
    return value;
}
inline zorvik::rt::prop_variant BoolValue(bool flag) {
    zorvik::rt::prop_variant value;
    value.set_bool(flag);
    return value;
}
inline zorvik::rt::prop_variant UInt64Value(std::uint64_t number) {
    zorvik::rt::prop_variant value;
    value.set_uint64(number);
    return value;
}
// Any other type, set directly (a 16-bit size, a time that is not a FILETIME).
inline zorvik::rt::prop_variant RawValue(const PROPVARIANT& raw) {
    zorvik::rt::prop_variant value;
    *value.put() = raw;
    return value;
}

inline FakeEntry FileEntry(std::wstring_view path, std::uint64_t size = 0) {
    return FakeEntry()
        .Set(Engine::kpidPath, StringValue(path))
        .Set(Engine::kpidIsDir, BoolValue(false))
        .Set(Engine::kpidSize, UInt64Value(size));
}
inline FakeEntry FolderEntry(std::wstring_view path) {
    return FakeEntry().Set(Engine::kpidPath, StringValue(path)).Set(Engine::kpidIsDir, BoolValue(true));
}

class FakeHandler final : public zorvik::rt::implements<FakeHandler, Engine::IInArchive> {
public:
    explicit FakeHandler(std::vector<FakeEntry> entries) : entries_(std::move(entries)) {}

    HRESULT Open(Engine::IInStream*, const std::uint64_t*, Engine::IArchiveOpenCallback*) override { return S_OK; }
    HRESULT Close() override {
        ++Closes;
        return S_OK;
    }
    HRESULT GetNumberOfItems(std::uint32_t* count) override {
        if (FailCount) return FailCount;
        *count = static_cast<std::uint32_t>(entries_.size());
        return S_OK;
    }
    HRESULT GetProperty(std::uint32_t index, PROPID id, PROPVARIANT* value) override {
        ++PropertyReads;
        if (index >= entries_.size()) return E_INVALIDARG;
        const auto found = entries_[index].Properties.find(id);
        if (found == entries_[index].Properties.end()) return S_OK;
        zorvik::rt::prop_variant copy(found->second);
        copy.detach_to(value);
        return S_OK;
    }
    HRESULT Extract(const std::uint32_t*, std::uint32_t, std::int32_t, Engine::IArchiveExtractCallback*) override { return E_NOTIMPL; }
    HRESULT GetArchiveProperty(PROPID, PROPVARIANT*) override { return S_OK; }
    HRESULT GetNumberOfProperties(std::uint32_t* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetPropertyInfo(std::uint32_t, BSTR*, PROPID*, VARTYPE*) override { return E_NOTIMPL; }
    HRESULT GetNumberOfArchiveProperties(std::uint32_t* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetArchivePropertyInfo(std::uint32_t, BSTR*, PROPID*, VARTYPE*) override { return E_NOTIMPL; }

    HRESULT FailCount = S_OK;
    int Closes = 0;
    int PropertyReads = 0;

private:
    std::vector<FakeEntry> entries_;
};

// An Archive that has "opened" handler with a format of the given keep-name flag.
inline zorvik::rt::com_ptr<Archive> ArchiveOver(const zorvik::rt::com_ptr<FakeHandler>& handler, bool keepsName = false,
                                                std::wstring archiveName = L"fake.bin") {
    auto archive = Archive::Create();
    std::lock_guard lock(archive->Lock);
    archive->InArchive = handler;
    archive->Format = std::make_unique<Impl::FormatRecord>();
    archive->Format->Name = L"fake";
    archive->Format->KeepsName = keepsName;
    archive->ArchiveName = std::move(archiveName);
    return archive;
}

}  // namespace Zorvik::Testing
