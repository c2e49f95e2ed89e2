#include "buffer.h"

#include <algorithm>
#include <new>

#include "zorvik/runtime/streams.h"

namespace zorvik::rt {

namespace {
// At least one byte, so that even an empty buffer has an address to hand out.
byte_block allocate_zeroed(std::uint32_t size) {
    byte_block bytes(static_cast<std::uint8_t*>(std::calloc(std::max<std::uint32_t>(size, 1), 1)));
    if (!bytes) throw std::bad_alloc();
    return bytes;
}
}  // namespace

platform_buffer::platform_buffer(std::uint32_t capacity) : bytes_(allocate_zeroed(capacity)), capacity_(capacity), length_(0) {}

platform_buffer::platform_buffer(byte_block bytes, std::uint32_t capacity, std::uint32_t length) noexcept
    : bytes_(std::move(bytes)), capacity_(capacity), length_(length) {}

HRESULT platform_buffer::get_Capacity(std::uint32_t* capacity) {
    if (!capacity) return E_POINTER;
    *capacity = capacity_;
    return S_OK;
}

HRESULT platform_buffer::get_Length(std::uint32_t* length) {
    if (!length) return E_POINTER;
    *length = length_.load();
    return S_OK;
}

HRESULT platform_buffer::put_Length(std::uint32_t length) {
    if (length > capacity_) return E_INVALIDARG;
    length_ = length;
    return S_OK;
}

HRESULT platform_buffer::Buffer(std::uint8_t** value) {
    if (!value) return E_POINTER;
    *value = bytes_.get();
    return S_OK;
}

}  // namespace zorvik::rt

HRESULT CreateBuffer(std::uint32_t capacity, ABI::Windows::Storage::Streams::IBuffer** buffer) {
    if (!buffer) return E_POINTER;
    *buffer = nullptr;
    return zorvik::rt::boundary([&] {
        *buffer = zorvik::rt::detach_as<ABI::Windows::Storage::Streams::IBuffer>(zorvik::rt::make<zorvik::rt::platform_buffer>(capacity));
    });
}
