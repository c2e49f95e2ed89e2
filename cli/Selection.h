// Which entries a command works on: the paths or patterns typed after the archive, less what
// --exclude names. A pattern is matched against an entry's whole path, one name at a time:
// "*" and "?" match within a name, "[a-z]" one character of a set, "**" any number of names,
// and "\" takes the next character as it is. A chosen folder brings everything below it. An
// exclude pattern without "/" is matched against every name of the path, as tar does, so that
// "--exclude '*.o'" leaves out object files at every depth.
#pragma once

#include <string>
#include <string_view>
#include <vector>


namespace Zorvik::Cli {

class Selection {
public:
    // Typed as the file system has names: bytes that are not UTF-8 match the archive's escapes.
    Selection(const std::vector<std::string>& patterns, const std::vector<std::string>& excludes);

    // Without include patterns, every entry but those excluded.
    bool HasIncludes() const noexcept { return !includes_.empty(); }
    // Paths are as list shows them: names from the root joined with "/".
    // An exclude pattern covers the path, or a folder above it.
    bool Excluded(std::string_view path) const;
    // An include pattern covers the path, or a folder above it (always, without patterns); the
    // patterns that did are remembered.
    bool Includes(std::string_view path);
    // Patterns, as typed, that covered no path given to Includes.
    std::vector<std::string> Unmatched() const;

private:
    struct Pattern {
        std::string typed;
        std::vector<std::wstring> names;  // "" and "." dropped
        bool anyName = false;             // an exclude without "/": matched against each name
        bool matched = false;
    };
    static Pattern Parse(const std::string& typed, bool exclude);
    // The pattern matches the names or a folder above them.
    static bool Covers(const Pattern& pattern, const std::vector<std::wstring>& names);

    std::vector<Pattern> includes_;
    std::vector<Pattern> excludes_;
};

// One name against a pattern name: "*", "?", "[...]" (with "!" or "^" to negate and ranges)
// and "\" escapes.
bool MatchesName(std::wstring_view pattern, std::wstring_view name);
// Names against pattern names, "**" standing for any number of names.
bool MatchesPath(const std::vector<std::wstring>& pattern, const std::vector<std::wstring>& names);

}  // namespace Zorvik::Cli
