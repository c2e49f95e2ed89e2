// The engine's output stream as the RAR reader's output stream.
#pragma once

#include "engine/EngineInterfaces.h"
#include "rar/UnRAR.Shared/FileWrapper.hpp"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Impl::RAR {

class ReaderOutputStream final : public UnRAR::IOutputStream {
public:
    explicit ReaderOutputStream(zorvik::rt::com_ptr<Engine::ISequentialOutStream> stream) : stream_(std::move(stream)) {}

    bool Write(const void* buffer, std::uint32_t size, std::uint32_t* processed) override;
    // Decoded data is only ever appended.
    bool Seek(std::int64_t, std::int32_t) override { return false; }

private:
    zorvik::rt::com_ptr<Engine::ISequentialOutStream> stream_;
};

}  // namespace Zorvik::Impl::RAR
