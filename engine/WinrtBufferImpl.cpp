#include "engine/WinrtBufferImpl.h"

namespace Zorvik::Impl {

HRESULT WinrtBufferImpl::get_Capacity(std::uint32_t* capacity) {
    if (!capacity) return E_POINTER;
    *capacity = capacity_;
    return S_OK;
}

HRESULT WinrtBufferImpl::get_Length(std::uint32_t* length) {
    if (!length) return E_POINTER;
    *length = length_;
    return S_OK;
}

HRESULT WinrtBufferImpl::put_Length(std::uint32_t length) {
    if (length > capacity_) return E_INVALIDARG;
    length_ = length;
    return S_OK;
}

HRESULT WinrtBufferImpl::Buffer(std::uint8_t** value) {
    if (!value) return E_POINTER;
    *value = data_;
    return S_OK;
}

}  // namespace Zorvik::Impl
