#include "engine/WinrtBufferImpl.h"

#include "base/OutParameters.h"

namespace Zorvik::Impl {

HRESULT WinrtBufferImpl::get_Capacity(std::uint32_t* capacity) { return GiveValue(capacity_, capacity); }

HRESULT WinrtBufferImpl::get_Length(std::uint32_t* length) { return GiveValue(length_, length); }

HRESULT WinrtBufferImpl::put_Length(std::uint32_t length) {
    if (length > capacity_) return E_INVALIDARG;
    length_ = length;
    return S_OK;
}

HRESULT WinrtBufferImpl::Buffer(std::uint8_t** value) { return GiveValue(data_, value); }

}  // namespace Zorvik::Impl
