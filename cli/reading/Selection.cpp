#include "cli/reading/Selection.h"

#include <algorithm>
#include <optional>

#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Cli {

namespace {

constexpr std::wstring_view kAnyNames = L"**";

// The names of a path, without the empty ones and "." that stand for nothing.
std::vector<std::wstring> SplitPath(std::wstring_view path) {
    std::vector<std::wstring> names;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find(L'/', start), path.size());
        const std::wstring_view name = path.substr(start, end - start);
        if (!name.empty() && name != L".") names.emplace_back(name);
        start = end + 1;
    }
    return names;
}

// Whether c is in the set that begins after "[" at pattern[at]; at is left after the closing
// "]". A "[" without its "]" is no set: nullopt, and at is untouched.
std::optional<bool> InSet(std::wstring_view pattern, std::size_t& at, wchar_t c) {
    std::size_t i = at;
    const bool negated = i < pattern.size() && (pattern[i] == L'!' || pattern[i] == L'^');
    if (negated) ++i;
    bool found = false;
    for (bool first = true; i < pattern.size() && (first || pattern[i] != L']'); first = false) {
        wchar_t low = pattern[i] == L'\\' && i + 1 < pattern.size() ? pattern[++i] : pattern[i];
        ++i;
        wchar_t high = low;
        if (i + 1 < pattern.size() && pattern[i] == L'-' && pattern[i + 1] != L']') {
            high = pattern[i + 1] == L'\\' && i + 2 < pattern.size() ? pattern[i + 2] : pattern[i + 1];
            i += pattern[i + 1] == L'\\' ? 3 : 2;
        }
        found = found || (low <= c && c <= high);
    }
    if (i >= pattern.size()) return std::nullopt;
    at = i + 1;
    return found != negated;
}

bool MatchesFrom(const std::vector<std::wstring>& pattern, std::size_t p, const std::vector<std::wstring>& names, std::size_t n,
                 std::size_t count) {
    if (p == pattern.size()) return n == count;
    if (pattern[p] == kAnyNames) {
        for (std::size_t k = n; k <= count; ++k)
            if (MatchesFrom(pattern, p + 1, names, k, count)) return true;
        return false;
    }
    return n < count && MatchesName(pattern[p], names[n]) && MatchesFrom(pattern, p + 1, names, n + 1, count);
}

}  // namespace

bool MatchesName(std::wstring_view pattern, std::wstring_view name) {
    // Greedy with one step back: a later "*" supersedes an earlier one.
    std::size_t p = 0, n = 0;
    std::size_t starP = std::wstring_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            starP = ++p;
            starN = n;
            continue;
        }
        bool step = false;
        std::size_t next = p + 1;
        if (p < pattern.size()) {
            if (pattern[p] == L'?') {
                step = true;
            } else if (pattern[p] == L'[') {
                std::size_t after = p + 1;
                if (const auto in = InSet(pattern, after, name[n])) {
                    step = *in;
                    next = after;
                } else {
                    step = name[n] == L'[';
                }
            } else if (pattern[p] == L'\\' && p + 1 < pattern.size()) {
                step = pattern[p + 1] == name[n];
                next = p + 2;
            } else {
                step = pattern[p] == name[n];
            }
        }
        if (step) {
            p = next;
            ++n;
        } else if (starP != std::wstring_view::npos) {
            p = starP;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}

bool MatchesPath(const std::vector<std::wstring>& pattern, const std::vector<std::wstring>& names) {
    return MatchesFrom(pattern, 0, names, 0, names.size());
}

Selection::Selection(const std::vector<std::string>& patterns, const std::vector<std::string>& excludes) {
    for (const std::string& typed : patterns) includes_.push_back(Parse(typed, false));
    for (const std::string& typed : excludes) excludes_.push_back(Parse(typed, true));
}

Selection::Pattern Selection::Parse(const std::string& typed, bool exclude) {
    Pattern pattern;
    pattern.typed = typed;
    pattern.literal = typed.size() > 1 && typed.back() == '/' ? typed.substr(0, typed.size() - 1) : typed;
    pattern.names = SplitPath(zorvik::rt::to_wide(typed));
    // As bsdtar matches: an exclude without "/" anywhere in a path, and an include without "/"
    // whose "*" comes first ("*.sh") at every depth, its star taking the folders before the name.
    const bool slashless = typed.find('/') == std::string::npos;
    pattern.anyName = slashless && (exclude || typed.starts_with('*'));
    return pattern;
}

bool Selection::Covers(const Pattern& pattern, std::string_view path, const std::vector<std::wstring>& names) {
    if (pattern.names.empty()) return true;  // "", "." or "/": the whole archive
    if (path == pattern.literal ||
        (path.starts_with(pattern.literal) && path.size() > pattern.literal.size() && path[pattern.literal.size()] == '/'))
        return true;
    if (pattern.anyName)
        return std::any_of(names.begin(), names.end(), [&](const std::wstring& name) { return MatchesName(pattern.names.front(), name); });
    for (std::size_t count = 1; count <= names.size(); ++count)
        if (MatchesFrom(pattern.names, 0, names, 0, count)) return true;
    return false;
}

bool Selection::Excluded(std::string_view path) const {
    if (excludes_.empty()) return false;
    const std::vector<std::wstring> names = SplitPath(zorvik::rt::to_wide(path));
    return std::any_of(excludes_.begin(), excludes_.end(), [&](const Pattern& pattern) { return Covers(pattern, path, names); });
}

bool Selection::Includes(std::string_view path) {
    if (includes_.empty()) return true;
    const std::vector<std::wstring> names = SplitPath(zorvik::rt::to_wide(path));
    bool included = false;
    for (Pattern& pattern : includes_)
        if (Covers(pattern, path, names)) included = pattern.matched = true;
    return included;
}

std::vector<std::string> Selection::Unmatched() const {
    std::vector<std::string> unmatched;
    for (const Pattern& pattern : includes_)
        if (!pattern.matched) unmatched.push_back(pattern.typed);
    return unmatched;
}

}  // namespace Zorvik::Cli
