// Which entries a command works on: the paths or patterns typed after the archive, less what
// --exclude names. A pattern is matched against an entry's whole path, one name at a time:
// "*" and "?" match within a name, "[a-z]" one character of a set, "**" any number of names,
// and "\" takes the next character as it is. A chosen folder brings everything below it. As
// bsdtar matches them, a pattern without "/" that begins with "*" is matched against every name
// of the path ("*.sh" chooses every .sh file, at any depth), and so is every exclude pattern
// without "/" ("--exclude '*.o'" leaves out object files at every depth, "--exclude CVS" every
// CVS folder); any other pattern is matched from the root. A pattern also names the path it
// spells, as list shows it, so that "a[1].txt" chooses the entry of that name as well.
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
        std::string literal;              // typed, without the "/" that ends a folder's path
        std::vector<std::wstring> names;  // "" and "." dropped
        bool anyName = false;             // matched against each name (see above)
        bool matched = false;
    };
    static Pattern Parse(const std::string& typed, bool exclude);
    // The pattern matches the path (of those names) or a folder above it.
    static bool Covers(const Pattern& pattern, std::string_view path, const std::vector<std::wstring>& names);

    std::vector<Pattern> includes_;
    std::vector<Pattern> excludes_;
};

// One name against a pattern name: "*", "?", "[...]" (with "!" or "^" to negate and ranges)
// and "\" escapes.
bool MatchesName(std::wstring_view pattern, std::wstring_view name);
// Names against pattern names, "**" standing for any number of names.
bool MatchesPath(const std::vector<std::wstring>& pattern, const std::vector<std::wstring>& names);

}  // namespace Zorvik::Cli
