// Folder names compared without case: character by character after upper-casing each one with
// the global locale as it stood when the order was made; a prefix orders first. Works on any
// text with size() and operator[] (string views, arena text).
#pragma once

#include <cstdint>
#include <locale>

namespace Zorvik::Impl {

class NameOrder {
public:
    NameOrder() : locale_(), facet_(&std::use_facet<std::ctype<wchar_t>>(locale_)) {}

    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
        const std::size_t common = a.size() < b.size() ? a.size() : b.size();
        for (std::size_t i = 0; i < common; ++i) {
            if (a[i] == b[i]) continue;
            const wchar_t upperA = facet_->toupper(a[i]);
            const wchar_t upperB = facet_->toupper(b[i]);
            if (upperA != upperB) return upperA < upperB;
        }
        return a.size() < b.size();
    }

    // Neither orders before the other: one folder name.
    template <typename A, typename B>
    bool Same(const A& a, const B& b) const {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (a[i] != b[i] && facet_->toupper(a[i]) != facet_->toupper(b[i])) return false;
        return true;
    }

    // Equal for names that are the Same.
    template <typename A>
    std::size_t Hash(const A& a) const {
        std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
        for (std::size_t i = 0; i < a.size(); ++i) hash = (hash ^ static_cast<std::uint32_t>(facet_->toupper(a[i]))) * 1099511628211ull;
        return static_cast<std::size_t>(hash);
    }

private:
    std::locale locale_;  // keeps the facet alive
    const std::ctype<wchar_t>* facet_;
};

}  // namespace Zorvik::Impl
