// Entry paths as components: every slash separates, so adjacent slashes give empty components.
// The engine gives paths with "/" between components on this platform, whatever the format
// stores; a backslash is part of a name, as it is to the file system.
#pragma once

#include <string_view>
#include <vector>

namespace Zorvik::Impl {

inline constexpr wchar_t kPathSeparator = L'/';

inline bool IsPathSeparator(wchar_t c) noexcept { return c == kPathSeparator; }

// Views into path (a string view or arena text); refills `components` so that one buffer
// serves many paths.
template <typename Text>
void SplitPath(const Text& path, std::vector<Text>& components) {
    components.clear();
    std::size_t start = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (IsPathSeparator(path[i])) {
            components.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    components.push_back(path.substr(start));
}

inline std::vector<std::wstring_view> SplitPath(std::wstring_view path) {
    std::vector<std::wstring_view> components;
    SplitPath(path, components);
    return components;
}

}  // namespace Zorvik::Impl
