// Names of the item model handed out through ABI out-parameters: packed text widened on the way.
#pragma once

#include <string>
#include <string_view>

#include "base/OutParameters.h"
#include "model/TextArena.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Impl {

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

}  // namespace Zorvik::Impl
