#include "archive/ReopenCallback.h"

#include <algorithm>

#include "engine/EngineText.h"
#include "zorvik/runtime/oleauto.h"

namespace Zorvik::Impl {

using zorvik::rt::com_ptr;

ReopenCallback::ReopenCallback(std::shared_ptr<const ArchiveOrigin> origin, com_ptr<InputStreamAdapter> stream)
    : origin_(std::move(origin)), current_(std::move(stream)) {}

HRESULT ReopenCallback::SetTotal(const std::uint64_t*, const std::uint64_t*) { return S_OK; }
HRESULT ReopenCallback::SetCompleted(const std::uint64_t*, const std::uint64_t*) { return S_OK; }
HRESULT ReopenCallback::SetTotal(std::uint64_t) { return S_OK; }
HRESULT ReopenCallback::SetCompleted(const std::uint64_t*) { return S_OK; }

HRESULT ReopenCallback::GetProperty(Engine::PROPID propID, PROPVARIANT* value) {
    if (!value) return E_POINTER;
    return zorvik::rt::boundary([&] {
        zorvik::rt::prop_variant result;
        if (propID == Engine::kpidName) {
            result.set_string(ToEngineText(origin_->Name));
        } else if (propID == Engine::kpidSize) {
            try {
                result.set_uint64(current_->Size());
            } catch (...) {
            }
        }
        result.detach_to(value);
        return S_OK;
    });
}

HRESULT ReopenCallback::GetStream(const wchar_t* name, Engine::IInStream** inStream) {
    if (!inStream) return E_POINTER;
    *inStream = nullptr;
    return zorvik::rt::boundary([&] {
        const std::wstring wanted = FromEngineText(name ? name : L"");
        const auto& volumes = origin_->Volumes;
        const auto given = std::find_if(volumes.begin(), volumes.end(), [&](const auto& volume) { return volume.first == wanted; });
        if (given == volumes.end()) return S_FALSE;
        com_ptr<IRandomAccessStream> clone;
        if (FAILED(given->second->CloneStream(clone.put())) || !clone) return S_FALSE;
        current_ = zorvik::rt::make<InputStreamAdapter>(std::move(clone));
        *inStream = com_ptr<Engine::IInStream>(current_).detach();
        return S_OK;
    });
}

HRESULT ReopenCallback::CryptoGetTextPassword(BSTR* password) {
    if (!password) return E_POINTER;
    *password = nullptr;
    // The first open went without a password: asking for one now means the archive changed.
    if (!origin_->Password) return E_FAIL;
    return zorvik::rt::boundary([&] {
        *password = zorvik::rt::bstr(ToEngineText(*origin_->Password)).detach();
        return S_OK;
    });
}

}  // namespace Zorvik::Impl
