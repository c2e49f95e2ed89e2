#include "archive/UpdateArchiveHandler.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "archive/CallerProgress.h"
#include "engine/EngineText.h"
#include "engine/InputStreamAdapter.h"
#include "model/PathComponents.h"
#include "zorvik/runtime/oleauto.h"

namespace Zorvik::Impl {

using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;
using zorvik::rt::prop_variant;

namespace {

// Windows attributes carrying a POSIX mode in their high half, as the engine writes them for
// files on this platform.
constexpr std::uint32_t kAttributeReadOnly = 0x1;
constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kAttributeArchive = 0x20;

std::uint32_t AttributesFromMode(std::uint32_t mode) {
    std::uint32_t attributes = S_ISDIR(mode) ? kAttributeDirectory : kAttributeArchive;
    if ((mode & 0222) == 0) attributes |= kAttributeReadOnly;
    return attributes | Engine::kAttribUnixExtension | (mode & 0xFFFF) << 16;
}

// The engine takes paths as this platform writes them: "/" between components, and no leading
// one, which would make the entry absolute for every other tool. Its strings are UTF-16 in
// 32-bit units: the 7z and WIM writers store each unit as 16 bits.
std::wstring EnginePath(std::wstring_view path) {
    const std::size_t start = path.find_first_not_of(kPathSeparator);
    return ToEngineText(path.substr(start == std::wstring_view::npos ? path.size() : start));
}

// The engine reads a link's target, where it is the entry's data, from here.
class BytesInStream final : public ComponentObject<BytesInStream, Engine::ISequentialInStream> {
public:
    explicit BytesInStream(std::string bytes) : bytes_(std::move(bytes)) {}

    HRESULT Read(void* data, std::uint32_t size, std::uint32_t* processedSize) override {
        const std::size_t count = std::min<std::size_t>(size, bytes_.size() - position_);
        if (count != 0) std::memcpy(data, bytes_.data() + position_, count);
        position_ += count;
        if (processedSize) *processedSize = static_cast<std::uint32_t>(count);
        return S_OK;
    }

private:
    const std::string bytes_;
    std::size_t position_ = 0;
};

prop_variant PropertyOf(const IUpdateItem& item, Engine::PROPID id) {
    const auto& properties = *item.Properties();
    const std::string_view linkTarget = item.SymbolicLinkTarget();
    prop_variant value;
    switch (id) {
    case Engine::kpidPath: value.set_string(EnginePath(properties.RenderedPath())); break;
    case Engine::kpidIsDir: value.set_bool(properties.IsFolder()); break;
    // A link's data, where the format keeps no link header, is its target.
    case Engine::kpidSize: value.set_uint64(linkTarget.empty() ? properties.Size() : linkTarget.size()); break;
    case Engine::kpidSymLink:
        if (!linkTarget.empty()) value.set_string(ToEngineText(zorvik::rt::to_wide(linkTarget)));
        break;
    case Engine::kpidMTime:
        // An entry without a time gets none, rather than 1601-01-01.
        if (const std::int64_t ticks = properties.Modified(); ticks != 0) {
            const auto raw = static_cast<std::uint64_t>(ticks);
            value.set_filetime(FILETIME{static_cast<DWORD>(raw), static_cast<DWORD>(raw >> 32)});
        }
        break;
    case Engine::kpidAttrib:
        if (item.Mode() != 0) value.set_uint32(AttributesFromMode(item.Mode()));
        break;
    case Engine::kpidPosixAttrib:
        // Without a mode from the caller the engine's default is 0777; owner-writable is safer.
        value.set_uint32(item.Mode() != 0 ? item.Mode() : properties.IsFolder() ? S_IFDIR | 0755 : S_IFREG | 0644);
        break;
    default: break;
    }
    return value;
}

}  // namespace

UpdateArchiveHandler::UpdateArchiveHandler(com_ptr<IUpdateCallback> callback, const std::vector<std::uint32_t>& kept,
                                           const UpdatePlan& plan, std::optional<std::wstring> archivePassword, bool hidesNames,
                                           Engine::IInArchive* openArchive)
    : callback_(std::move(callback)),
      kept_(kept),
      plan_(plan),
      archivePassword_(std::move(archivePassword)),
      hidesNames_(hidesNames),
      openArchive_(openArchive) {}

const IUpdateItem* UpdateArchiveHandler::PlanItem(std::uint32_t index) const noexcept {
    if (index < kept_.size()) return nullptr;
    const std::size_t position = index - kept_.size();
    return position < plan_.size() ? plan_[position].get() : nullptr;
}

HRESULT UpdateArchiveHandler::ReportProgress(ProgressMember member, std::uint64_t value) {
    if (Canceled()) return E_ABORT;
    return callback_ ? ForwardProgress(callback_, member, value) : S_OK;
}

HRESULT UpdateArchiveHandler::SetTotal(std::uint64_t total) { return ReportProgress(&IOperationProgress::SetTotal, total); }

HRESULT UpdateArchiveHandler::SetCompleted(const std::uint64_t* completeValue) {
    if (!completeValue) return Canceled() ? E_ABORT : S_OK;
    return ReportProgress(&IOperationProgress::SetCompleted, *completeValue);
}

HRESULT UpdateArchiveHandler::GetUpdateItemInfo(std::uint32_t index, std::int32_t* newData, std::int32_t* newProps,
                                                std::uint32_t* indexInArchive) {
    std::uint32_t inArchive = 0;
    bool hasNewData = false, hasNewProperties = false;
    if (index < kept_.size()) {
        inArchive = kept_[index];
    } else if (const IUpdateItem* item = PlanItem(index)) {
        inArchive = item->IndexInArchive();
        hasNewData = item->HasNewData();
        hasNewProperties = item->HasNewProperties();
    } else {
        return E_FAIL;
    }
    if (newData) *newData = hasNewData ? 1 : 0;
    if (newProps) *newProps = hasNewProperties ? 1 : 0;
    if (indexInArchive) *indexInArchive = inArchive;
    return S_OK;
}

HRESULT UpdateArchiveHandler::GetProperty(std::uint32_t index, Engine::PROPID propID, PROPVARIANT* value) {
    if (!value) return E_POINTER;
    const IUpdateItem* item = PlanItem(index);
    if (!item || !item->HasNewProperties()) return E_FAIL;
    return zorvik::rt::boundary([&] {
        prop_variant answer = PropertyOf(*item, propID);
        // An entry that only moves keeps what the plan does not set, as it was in the archive.
        const bool planSets =
            propID == Engine::kpidPath || propID == Engine::kpidIsDir || propID == Engine::kpidSize || propID == Engine::kpidMTime;
        if (!item->HasNewData() && !planSets && openArchive_)
            check_hresult(openArchive_->GetProperty(item->IndexInArchive(), propID, answer.put()));
        answer.detach_to(value);
    });
}

HRESULT UpdateArchiveHandler::GetStream(std::uint32_t index, Engine::ISequentialInStream** inStream) {
    if (!inStream) return E_POINTER;
    *inStream = nullptr;
    if (Canceled()) return E_ABORT;
    const IUpdateItem* item = PlanItem(index);
    if (!item || !item->HasNewData()) return E_FAIL;
    return zorvik::rt::boundary([&] {
        if (item->Properties()->IsFolder()) return S_OK;
        if (const std::string_view target = item->SymbolicLinkTarget(); !target.empty()) {
            *inStream = com_ptr<Engine::ISequentialInStream>(zorvik::rt::make<BytesInStream>(std::string(target))).detach();
            return S_OK;
        }
        auto content = item->ContentStream();
        if (!content) return E_FAIL;
        // Content that ends before the size its item gave fails the update: it is not stored short.
        *inStream = com_ptr<Engine::ISequentialInStream>(
                        zorvik::rt::make<InputStreamAdapter>(std::move(content), ReadFailure::Reported, item->Properties()->Size()))
                        .detach();
        return S_OK;
    });
}

HRESULT UpdateArchiveHandler::SetOperationResult(std::int32_t) { return S_OK; }
HRESULT UpdateArchiveHandler::GetVolumeSize(std::uint32_t, std::uint64_t*) { return S_OK; }
HRESULT UpdateArchiveHandler::GetVolumeStream(std::uint32_t, Engine::ISequentialOutStream**) { return S_OK; }
HRESULT UpdateArchiveHandler::SetRatioInfo(const std::uint64_t*, const std::uint64_t*) { return S_OK; }

HRESULT UpdateArchiveHandler::CryptoGetTextPassword2(std::int32_t* passwordIsDefined, BSTR* password) {
    if (password) *password = nullptr;
    const auto give = [&](bool defined, const std::wstring& text) {
        if (passwordIsDefined) *passwordIsDefined = defined ? 1 : 0;
        if (!password || !defined) return S_OK;
        *password = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *password ? S_OK : E_OUTOFMEMORY;
    };
    // New data written to an archive opened with a password gets that password, unasked, and
    // so do the names it hid: another (or none) would change what the archive needs.
    const bool writesData = std::any_of(plan_.begin(), plan_.end(), [](const auto& item) { return item->HasNewData(); });
    if ((writesData || hidesNames_) && archivePassword_) return give(true, *archivePassword_);
    if (!std::exchange(passwordAsked_, true)) {
        const HRESULT asked = zorvik::rt::boundary([&] {
            const auto provider = callback_.as<IUpdatePasswordProvider>();
            zorvik::rt::hstring given;
            std::int32_t answer = UpdatePasswordAnswer::NoPassword;
            check_hresult(provider->GetPassword(given.put(), &answer));
            if (answer == UpdatePasswordAnswer::Use) {
                password_ = given.view();
                passwordDefined_ = true;
            } else if (answer == UpdatePasswordAnswer::Cancel) {
                return E_ABORT;
            } else if (answer != UpdatePasswordAnswer::NoPassword) {
                return E_FAIL;
            }
            return S_OK;
        });
        if (asked != S_OK) {
            if (passwordIsDefined) *passwordIsDefined = 0;
            return asked;
        }
    }
    return give(passwordDefined_, password_);
}

HRESULT UpdateArchiveHandler::CryptoGetTextPassword(BSTR* password) {
    if (!password) return E_POINTER;
    const HRESULT hr = CryptoGetTextPassword2(nullptr, password);
    if (FAILED(hr)) return hr;
    return *password ? S_OK : E_FAIL;
}

}  // namespace Zorvik::Impl
