// The platform buffer: bytes it owns, a capacity fixed at creation and a length within it.
#pragma once

#include <atomic>
#include <cstdlib>
#include <memory>

#include "zorvik/runtime/implements.h"
#include "zorvik/runtime/streams_abi.h"

namespace zorvik::rt {

struct free_deleter {
    void operator()(std::uint8_t* bytes) const noexcept { std::free(bytes); }
};
// malloc'd bytes, so that a growing owner (the data writer) can realloc them in place.
using byte_block = std::unique_ptr<std::uint8_t[], free_deleter>;

class platform_buffer final
    : public implements<platform_buffer, ABI::Windows::Storage::Streams::IBuffer, ABI::Windows::Storage::Streams::IBufferByteAccess> {
public:
    static constexpr const char* runtime_class_name = "Windows.Storage.Streams.Buffer";

    // Zeroed bytes, length 0.
    explicit platform_buffer(std::uint32_t capacity);
    // Adopts bytes holding at least capacity bytes.
    platform_buffer(byte_block bytes, std::uint32_t capacity, std::uint32_t length) noexcept;

    HRESULT get_Capacity(std::uint32_t* capacity) override;
    HRESULT get_Length(std::uint32_t* length) override;
    HRESULT put_Length(std::uint32_t length) override;
    HRESULT Buffer(std::uint8_t** value) override;

private:
    byte_block bytes_;
    const std::uint32_t capacity_;
    std::atomic<std::uint32_t> length_;
};

}  // namespace zorvik::rt
