#include "rar/RarOpenArchiveCallbackAdapter.h"

#include <algorithm>
#include <cstring>

#include "engine/EngineText.h"
#include "rar/ReaderInputStream.h"
#include "zorvik/runtime/oleauto.h"

namespace Zorvik::Impl::RAR {

using zorvik::rt::com_ptr;

void CopyPassword(std::wstring_view engineText, wchar_t* buffer) {
    // The library reads one unit per character.
    const std::wstring password = FromEngineText(engineText);
    const std::size_t length = std::min(password.size(), UnRAR::kPasswordBufferSize - 1);
    std::copy_n(password.data(), length, buffer);
    buffer[length] = 0;
}

std::wstring OpenArchiveCallbackAdapter::GetArchiveName() {
    const auto volumes = callback_.try_as<Engine::IArchiveOpenVolumeCallback>();
    if (!volumes) return {};
    zorvik::rt::prop_variant name;
    if (volumes->GetProperty(Engine::kpidName, name.put()) != S_OK) return {};
    return FromEngineText(name.as_string().value_or(std::wstring_view()));
}

UnRAR::HRESULT_t OpenArchiveCallbackAdapter::OpenVolume(const std::wstring& name, std::shared_ptr<UnRAR::IInputStream>& stream) {
    const auto volumes = callback_.try_as<Engine::IArchiveOpenVolumeCallback>();
    if (!volumes) return E_FAIL;
    com_ptr<Engine::IInStream> volume;
    const HRESULT result = volumes->GetStream(name.c_str(), volume.put());
    if (result != S_OK) return result;
    if (!volume) return E_FAIL;
    stream = std::make_shared<ReaderInputStream>(std::move(volume));
    return S_OK;
}

UnRAR::HRESULT_t OpenArchiveCallbackAdapter::GetPassword(wchar_t* buffer) {
    const auto passwords = callback_.try_as<Engine::ICryptoGetTextPassword>();
    if (!passwords) return E_FAIL;
    zorvik::rt::bstr password;
    const HRESULT result = passwords->CryptoGetTextPassword(password.put());
    if (result == S_OK) CopyPassword(password.view(), buffer);
    return result == E_ABORT ? E_ABORT : S_OK;
}

}  // namespace Zorvik::Impl::RAR
