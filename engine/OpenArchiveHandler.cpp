#include "engine/OpenArchiveHandler.h"

#include "engine/EngineText.h"

namespace Zorvik::Impl {

using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;
using zorvik::rt::hstring;

namespace {

// The caller's answer statuses.
constexpr std::int32_t kGiven = 0;
constexpr std::int32_t kCancel = 1;

}  // namespace

OpenArchiveHandler::OpenArchiveHandler(com_ptr<InputStreamAdapter> stream, com_ptr<IArchiveSource> source)
    : currentStream_(std::move(stream)), source_(std::move(source)) {}

std::wstring OpenArchiveHandler::ArchiveExtension() const {
    if (subArchiveMode_) {
        const auto dot = subArchiveName_.rfind(L'.');
        return dot == std::wstring::npos ? std::wstring() : subArchiveName_.substr(dot + 1);
    }
    hstring fileType;
    check_hresult(source_->get_FileType(fileType.put()));
    return std::wstring(fileType.view());
}

HRESULT OpenArchiveHandler::SetTotal(const std::uint64_t*, const std::uint64_t*) { return S_OK; }
HRESULT OpenArchiveHandler::SetCompleted(const std::uint64_t*, const std::uint64_t*) { return S_OK; }
HRESULT OpenArchiveHandler::SetTotal(std::uint64_t) { return S_OK; }
HRESULT OpenArchiveHandler::SetCompleted(const std::uint64_t*) { return S_OK; }

HRESULT OpenArchiveHandler::GetProperty(Engine::PROPID propID, PROPVARIANT* value) {
    if (!value) return E_POINTER;
    return zorvik::rt::boundary([&] {
        zorvik::rt::prop_variant result;
        if (propID == Engine::kpidName) {
            if (subArchiveMode_) {
                result.set_string(ToEngineText(subArchiveName_));
            } else {
                hstring name;
                check_hresult(source_->get_Name(name.put()));
                result.set_string(ToEngineText(name.view()));
            }
        } else if (propID == Engine::kpidSize && !subArchiveMode_) {
            // A stream that cannot tell its size simply gives none.
            try {
                result.set_uint64(currentStream_->Size());
            } catch (...) {
            }
        }
        result.detach_to(value);
        return S_OK;
    });
}

HRESULT OpenArchiveHandler::GetStream(const wchar_t* name, Engine::IInStream** inStream) {
    if (!inStream) return E_POINTER;
    *inStream = nullptr;
    if (subArchiveMode_) return S_FALSE;
    volumeRequested_ = true;
    return zorvik::rt::boundary([&] {
        std::int32_t status = kGiven;
        com_ptr<IRandomAccessStream> volume;
        std::wstring volumeName = FromEngineText(name ? name : L"");
        check_hresult(source_->GetVolume(hstring(volumeName).get(), &status, volume.put()));
        if (status == kCancel) return E_ABORT;
        if (status != kGiven || !volume) return S_FALSE;
        givenVolumes_.emplace_back(std::move(volumeName), volume);
        auto adapter = zorvik::rt::make<InputStreamAdapter>(std::move(volume));
        totalSize_ += adapter->Size();
        currentStream_ = adapter;
        *inStream = zorvik::rt::detach_as<Engine::IInStream>(std::move(adapter));
        return S_OK;
    });
}

HRESULT OpenArchiveHandler::SetSubArchiveName(const wchar_t* name) {
    return zorvik::rt::boundary([&] {
        subArchiveName_ = FromEngineText(name ? name : L"");
        subArchiveMode_ = true;
        return S_OK;
    });
}

HRESULT OpenArchiveHandler::CryptoGetTextPassword(BSTR* password) {
    if (!password) return E_POINTER;
    *password = nullptr;
    return zorvik::rt::boundary([&] {
        if (!cachedPassword_) {
            std::int32_t status = kGiven;
            hstring given;
            check_hresult(source_->RequestPassword(&status, given.put()));
            if (status == kCancel) return E_ABORT;
            if (status != kGiven) return E_FAIL;
            cachedPassword_ = std::wstring(given.view());
        }
        *password = zorvik::rt::bstr(ToEngineText(*cachedPassword_)).detach();
        return S_OK;
    });
}

}  // namespace Zorvik::Impl
