// Handing values out through ABI out-parameters, for the item model's getters.
#pragma once

#include <string_view>

#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Impl {

template <typename T>
HRESULT GiveValue(T value, T* out) noexcept {
    if (!out) return E_POINTER;
    *out = value;
    return S_OK;
}

inline HRESULT GiveString(std::wstring_view text, HSTRING* out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    return WindowsCreateString(text.data(), static_cast<std::uint32_t>(text.size()), out);
}

// A new reference for an out-parameter; null stays null.
template <typename I, typename T>
HRESULT GiveReference(const zorvik::rt::com_ptr<T>& object, I** out) noexcept {
    if (!out) return E_POINTER;
    *out = object.get();
    if (*out) (*out)->AddRef();
    return S_OK;
}

}  // namespace Zorvik::Impl
