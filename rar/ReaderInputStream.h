// The engine's input stream as the RAR reader's input stream.
#pragma once

#include "engine/EngineInterfaces.h"
#include "rar/UnRAR.Shared/FileWrapper.hpp"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Impl::RAR {

class ReaderInputStream final : public UnRAR::IInputStream {
public:
    explicit ReaderInputStream(zorvik::rt::com_ptr<Engine::IInStream> stream) : stream_(std::move(stream)) {}

    bool Read(void* buffer, std::uint32_t size, std::uint32_t* processed) override;
    std::int64_t Tell() override;
    bool Seek(std::int64_t offset, std::int32_t origin) override;

private:
    zorvik::rt::com_ptr<Engine::IInStream> stream_;
};

}  // namespace Zorvik::Impl::RAR
