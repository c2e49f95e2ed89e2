// The display order of folder names: character by character after upper-casing each one with the
// global locale as it stood when the order was made, a prefix first; names that differ only in
// case follow in the order of their characters, so the order is total. Works on any text with
// size() and operator[] (string views, arena text). It orders only: two names are one name when
// they are equal, character for character, as they are to the file system.
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
        std::size_t firstDifference = common;
        for (std::size_t i = 0; i < common; ++i) {
            if (a[i] == b[i]) continue;
            if (firstDifference == common) firstDifference = i;
            const wchar_t upperA = facet_->toupper(a[i]);
            const wchar_t upperB = facet_->toupper(b[i]);
            if (upperA != upperB) return upperA < upperB;
        }
        if (a.size() != b.size()) return a.size() < b.size();
        return firstDifference != common && a[firstDifference] < b[firstDifference];
    }

private:
    std::locale locale_;  // keeps the facet alive
    const std::ctype<wchar_t>* facet_;
};

}  // namespace Zorvik::Impl
