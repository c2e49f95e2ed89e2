// The engine's view of a destination that takes bytes only in order (ISequentialDestination):
// the engine's sequential stream alone, without IOutStream, so that formats that can be written
// so never seek, and those that cannot refuse (E_NOTIMPL) instead of seeking in a pipe.
#pragma once

#include "archive/OutputStreamAdapter.h"

namespace Zorvik::Impl {

class SequentialOutput final : public ComponentObject<SequentialOutput, Engine::ISequentialOutStream> {
public:
    explicit SequentialOutput(zorvik::rt::com_ptr<OutputStreamAdapter> adapter) : adapter_(std::move(adapter)) {}

    HRESULT Write(const void* data, std::uint32_t size, std::uint32_t* processedSize) override {
        return adapter_->Write(data, size, processedSize);
    }

private:
    zorvik::rt::com_ptr<OutputStreamAdapter> adapter_;
};

}  // namespace Zorvik::Impl
