// Handing values out through ABI out-parameters, for the item model's getters.
#pragma once

#include <string>
#include <string_view>

#include "model/TextArena.h"
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

inline HRESULT GiveText(PackedText text, HSTRING* out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    return zorvik::rt::boundary([&] {
        // Names are short: most widen on the stack.
        wchar_t local[256];
        std::wstring large;
        std::wstring_view wide;
        if (text.size() <= std::size(local)) {
            for (std::uint32_t i = 0; i < text.size(); ++i) local[i] = text[i];
            wide = std::wstring_view(local, text.size());
        } else {
            large = text.Wide();
            wide = large;
        }
        zorvik::rt::check_hresult(WindowsCreateString(wide.data(), static_cast<std::uint32_t>(wide.size()), out));
    });
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
