// Text between the component and the archive engine. The engine's strings are UTF-16 in
// 32-bit units: a character beyond the BMP is a surrogate pair, where the component's strings
// hold one unit per character.
#pragma once

#include <string>
#include <string_view>

namespace Zorvik::Impl {

inline bool IsHighSurrogate(wchar_t c) noexcept { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(wchar_t c) noexcept { return c >= 0xDC00 && c <= 0xDFFF; }

// Pairs become the characters they encode; a lone surrogate stays as it is.
inline std::wstring FromEngineText(std::wstring_view text) {
    std::wstring result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            result.push_back(static_cast<wchar_t>(0x10000 + ((text[i] - 0xD800) << 10) + (text[i + 1] - 0xDC00)));
            ++i;
        } else {
            result.push_back(text[i]);
        }
    }
    return result;
}

// Characters beyond the BMP become pairs.
inline std::wstring ToEngineText(std::wstring_view text) {
    std::wstring result;
    result.reserve(text.size());
    for (const wchar_t c : text) {
        if (c > 0xFFFF && c <= 0x10FFFF) {
            const auto offset = static_cast<std::uint32_t>(c) - 0x10000;
            result.push_back(static_cast<wchar_t>(0xD800 + (offset >> 10)));
            result.push_back(static_cast<wchar_t>(0xDC00 + (offset & 0x3FF)));
        } else {
            result.push_back(c);
        }
    }
    return result;
}

}  // namespace Zorvik::Impl
