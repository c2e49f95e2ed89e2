// UTF-8 and wchar_t (UTF-32 on Linux) text at the edges.
#include <algorithm>

#include "zorvik/runtime/com_ptr.h"

namespace zorvik::rt {

namespace {
constexpr wchar_t kReplacement = 0xFFFD;

bool IsHighSurrogate(std::uint32_t code) { return code >= 0xD800 && code <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t code) { return code >= 0xDC00 && code <= 0xDFFF; }
std::uint32_t CombineSurrogates(std::uint32_t high, std::uint32_t low) { return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00); }
}

std::wstring to_wide(std::string_view utf8) {
    std::wstring result;
    result.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : -1;
        if (extra < 0 || i + extra >= utf8.size()) {
            result.push_back(kReplacement);
            ++i;
            continue;
        }
        std::uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        bool valid = true;
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            code = code << 6 | (next & 0x3F);
        }
        static constexpr std::uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
        if (!valid || code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            result.push_back(kReplacement);
            ++i;
            continue;
        }
        result.push_back(static_cast<wchar_t>(code));
        i += static_cast<std::size_t>(extra) + 1;
    }
    return result;
}

std::string to_utf8(std::wstring_view text) {
    // Names are mostly ASCII: that leading part is copied whole.
    const auto ascii = std::find_if(text.begin(), text.end(), [](wchar_t c) { return static_cast<std::uint32_t>(c) >= 0x80; });
    std::string result(text.begin(), ascii);
    if (ascii == text.end()) return result;
    result.reserve(text.size() + 8);
    for (auto i = static_cast<std::size_t>(ascii - text.begin()); i < text.size(); ++i) {
        auto code = static_cast<std::uint32_t>(text[i]);
        // Text from the archive engine holds characters beyond the BMP as UTF-16 pairs.
        if (IsHighSurrogate(code) && i + 1 < text.size() && IsLowSurrogate(static_cast<std::uint32_t>(text[i + 1])))
            code = CombineSurrogates(code, static_cast<std::uint32_t>(text[++i]));
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = kReplacement;
        if (code < 0x80) {
            result.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            result.push_back(static_cast<char>(0xC0 | code >> 6));
            result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            result.push_back(static_cast<char>(0xE0 | code >> 12));
            result.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            result.push_back(static_cast<char>(0xF0 | code >> 18));
            result.push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return result;
}

}  // namespace zorvik::rt
