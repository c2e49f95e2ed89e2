#include "cli/terminal/Text.h"

#include <fmt/format.h>

#include <algorithm>

#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Cli {

namespace {

constexpr wchar_t kFirstEscape = 0xEF80;
constexpr wchar_t kLastEscape = 0xEFFF;
constexpr wchar_t kEscapeBase = 0xEF00;

bool IsEscapedByte(wchar_t c) noexcept { return c >= kFirstEscape && c <= kLastEscape; }

// One UTF-8 character at the start of text: its code point and length, or a length of 0
// when the bytes there are not UTF-8.
struct Decoded {
    char32_t code = 0;
    std::size_t length = 0;
};

Decoded DecodeOne(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : 4;
    if (extra == 4 || extra >= text.size()) return {};
    char32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
    for (std::size_t k = 1; k <= extra; ++k) {
        const auto next = static_cast<unsigned char>(text[k]);
        if ((next & 0xC0) != 0x80) return {};
        code = code << 6 | (next & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {};
    return {code, extra + 1};
}

bool IsControl(char32_t code) noexcept { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

}  // namespace

std::string Printable(std::string_view utf8) {
    if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) return std::string(utf8);
    const std::wstring name = zorvik::rt::to_wide(utf8);
    std::string text;
    text.reserve(utf8.size());
    std::size_t start = 0;  // of the characters not yet written, all printable
    for (std::size_t i = 0; i <= name.size(); ++i) {
        const wchar_t c = i < name.size() ? name[i] : 0;
        if (i < name.size() && !IsControl(static_cast<char32_t>(c)) && !IsEscapedByte(c)) continue;
        text += zorvik::rt::to_utf8(std::wstring_view(name).substr(start, i - start));
        start = i + 1;
        if (i == name.size()) break;
        if (c == L'\n')
            text += "\\n";
        else if (c == L'\t')
            text += "\\t";
        else if (c == L'\r')
            text += "\\r";
        else
            text += fmt::format("\\x{:02X}", static_cast<unsigned>(IsEscapedByte(c) ? c - kEscapeBase : c));
    }
    return text;
}

std::string NormalizedPath(std::string_view path) {
    std::string result;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view component = path.substr(start, end - start);
        if (!component.empty() && component != ".") result.append(result.empty() ? "" : "/").append(component);
        start = end + 1;
    }
    return result;
}

std::string JsonString(std::string_view utf8) {
    std::string literal;
    literal.reserve(utf8.size() + 2);
    literal.push_back('"');
    for (std::size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte >= 0x20 && byte < 0x80) {
            if (byte == '"' || byte == '\\') literal.push_back('\\');
            literal.push_back(static_cast<char>(byte));
            ++i;
        } else if (byte < 0x20) {
            static constexpr std::string_view kShort[] = {"\\b", "\\t", "\\n", "", "\\f", "\\r"};
            const std::string_view shortForm = byte >= 8 && byte <= 13 ? kShort[byte - 8] : "";
            literal += shortForm.empty() ? fmt::format("\\u{:04x}", byte) : std::string(shortForm);
            ++i;
        } else {
            const Decoded decoded = DecodeOne(utf8.substr(i));
            if (decoded.length == 0 || IsEscapedByte(static_cast<wchar_t>(decoded.code)))
                literal += "\xEF\xBF\xBD";  // U+FFFD
            else
                literal.append(utf8.substr(i, decoded.length));
            i += std::max<std::size_t>(decoded.length, 1);
        }
    }
    literal.push_back('"');
    return literal;
}

}  // namespace Zorvik::Cli
