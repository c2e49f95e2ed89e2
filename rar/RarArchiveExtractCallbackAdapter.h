// The engine's extraction callback as the RAR reader's extraction callback.
#pragma once

#include "engine/EngineInterfaces.h"
#include "rar/UnRAR.Shared/UnRAR.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Impl::RAR {

class ArchiveExtractCallbackAdapter final : public UnRAR::IExtractCallback {
public:
    explicit ArchiveExtractCallbackAdapter(zorvik::rt::com_ptr<Engine::IArchiveExtractCallback> callback)
        : callback_(std::move(callback)) {}

    UnRAR::HRESULT_t GetStream(std::uint32_t index, std::shared_ptr<UnRAR::IOutputStream>& stream) override;
    bool PrepareOperation() override;
    bool SetOperationResult(std::int32_t result) override;
    bool SetTotal(std::uint64_t total) override;
    bool SetCompleted(const std::uint64_t* completed) override;
    // Without a password interface the buffer stays empty; a cancelled request answers E_ABORT.
    UnRAR::HRESULT_t GetPassword(wchar_t* buffer) override;

private:
    zorvik::rt::com_ptr<Engine::IArchiveExtractCallback> callback_;
};

}  // namespace Zorvik::Impl::RAR
