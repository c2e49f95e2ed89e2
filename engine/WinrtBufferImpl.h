// A platform buffer over memory it does not own: lends the engine's own read buffer to a
// platform ReadAsync, so that the bytes land where the engine wants them without a copy.
#pragma once

#include "base/ComponentObject.h"
#include "zorvik/runtime/streams_abi.h"

namespace Zorvik::Impl {

class WinrtBufferImpl final
    : public ComponentObject<WinrtBufferImpl, ABI::Windows::Storage::Streams::IBuffer, ABI::Windows::Storage::Streams::IBufferByteAccess> {
public:
    static constexpr const char* runtime_class_name = "Zorvik.WinrtBufferImpl";

    // The memory must outlive every use of the buffer; Length starts at 0.
    WinrtBufferImpl(std::uint8_t* data, std::uint32_t capacity) noexcept : data_(data), capacity_(capacity) {}

    HRESULT get_Capacity(std::uint32_t* capacity) override;
    HRESULT get_Length(std::uint32_t* length) override;
    HRESULT put_Length(std::uint32_t length) override;
    HRESULT Buffer(std::uint8_t** value) override;

    std::uint32_t Length() const noexcept { return length_; }

private:
    std::uint8_t* const data_;
    std::uint32_t length_ = 0;
    const std::uint32_t capacity_;
};

}  // namespace Zorvik::Impl
