// UTF-8 and wchar_t (UTF-32 on Linux) text at the edges, lossless both ways for any bytes.
#include <algorithm>

#include "zorvik/runtime/com_ptr.h"

namespace zorvik::rt {

namespace {
constexpr wchar_t kReplacement = 0xFFFD;
// A byte that is not part of UTF-8 stands for itself as U+EF00 + byte, as the archive engine
// keeps such names; the characters U+EF80..U+EFFF themselves are escaped byte by byte, so that
// the way back is unambiguous.
constexpr std::uint32_t kEscapeBase = 0xEF00;
constexpr std::uint32_t kFirstEscape = 0xEF80;
constexpr std::uint32_t kLastEscape = 0xEFFF;

bool IsHighSurrogate(std::uint32_t code) { return code >= 0xD800 && code <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t code) { return code >= 0xDC00 && code <= 0xDFFF; }
bool IsSurrogate(std::uint32_t code) { return code >= 0xD800 && code <= 0xDFFF; }
std::uint32_t CombineSurrogates(std::uint32_t high, std::uint32_t low) { return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00); }

// The length of the well-formed UTF-8 character at the start of text and its code, or 0.
std::size_t DecodeOne(std::string_view text, std::uint32_t& code) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : 4;
    if (extra == 4 || extra >= text.size()) return 0;
    code = extra == 0 ? lead : lead & (0x3F >> extra);
    for (std::size_t k = 1; k <= extra; ++k) {
        const auto next = static_cast<unsigned char>(text[k]);
        if ((next & 0xC0) != 0x80) return 0;
        code = code << 6 | (next & 0x3F);
    }
    static constexpr std::uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[extra] || code > 0x10FFFF || IsSurrogate(code) || (code >= kFirstEscape && code <= kLastEscape)) return 0;
    return extra + 1;
}

void Encode(std::uint32_t code, std::string& result) {
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
}  // namespace

std::wstring to_wide(std::string_view bytes) {
    std::wstring result;
    result.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        std::uint32_t code = 0;
        const std::size_t length = DecodeOne(bytes.substr(i), code);
        if (length == 0) {
            result.push_back(static_cast<wchar_t>(kEscapeBase + static_cast<unsigned char>(bytes[i])));
            ++i;
            continue;
        }
        result.push_back(static_cast<wchar_t>(code));
        i += length;
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
        if (code >= kFirstEscape && code <= kLastEscape) {
            result.push_back(static_cast<char>(code - kEscapeBase));
            continue;
        }
        // Text from the archive engine holds characters beyond the BMP as UTF-16 pairs.
        if (IsHighSurrogate(code) && i + 1 < text.size() && IsLowSurrogate(static_cast<std::uint32_t>(text[i + 1])))
            code = CombineSurrogates(code, static_cast<std::uint32_t>(text[++i]));
        // A lone surrogate (a name written on another system) keeps its three bytes, so that two
        // such names stay two; only what no encoding has becomes U+FFFD.
        if (code > 0x10FFFF) code = kReplacement;
        Encode(code, result);
    }
    return result;
}

}  // namespace zorvik::rt
