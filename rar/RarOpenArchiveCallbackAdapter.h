// The engine's open callback (which may be absent) as the RAR reader's open callback: the
// archive's name, further volumes and the password.
#pragma once

#include "engine/EngineInterfaces.h"
#include "rar/UnRAR.Shared/FileWrapper.hpp"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Impl::RAR {

class OpenArchiveCallbackAdapter final : public UnRAR::IOpenCallback {
public:
    explicit OpenArchiveCallbackAdapter(zorvik::rt::com_ptr<Engine::IArchiveOpenCallback> callback) : callback_(std::move(callback)) {}

    std::wstring GetArchiveName() override;
    UnRAR::HRESULT_t OpenVolume(const std::wstring& name, std::shared_ptr<UnRAR::IInputStream>& stream) override;
    UnRAR::HRESULT_t GetPassword(wchar_t* buffer) override;

private:
    zorvik::rt::com_ptr<Engine::IArchiveOpenCallback> callback_;
};

// Copies a password of at most kPasswordBufferSize - 1 characters and a terminator into buffer;
// a longer one is cut.
void CopyPassword(std::wstring_view engineText, wchar_t* buffer);

}  // namespace Zorvik::Impl::RAR
