// Handing results out through ABI out-parameters, written once for every ABI member of the
// component. A null out-parameter is E_POINTER; an out-parameter that receives an object or a
// string is cleared first, so that a failure never leaves the caller something to release.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>

#include "zorvik/runtime/com_ptr.h"
#include "zorvik/runtime/errors.h"

namespace Zorvik::Impl {

// For members that run inside a boundary: a null out-parameter is thrown as E_POINTER.
template <typename T>
void CheckOut(T* out) {
    if (!out) zorvik::rt::throw_hresult(E_POINTER);
}

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

// The result of make() (a detached reference or string), made inside a boundary; the
// out-parameter stays null if make throws.
template <typename T, typename Make>
HRESULT GiveMade(T** out, Make&& make) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    return zorvik::rt::boundary([&] { *out = std::forward<Make>(make)(); });
}

}  // namespace Zorvik::Impl
