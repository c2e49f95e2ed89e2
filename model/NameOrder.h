// The order of folder names: character by character after upper-casing each one with the
// global locale as it stood when the order was made; a prefix orders first.
#pragma once

#include <locale>
#include <string_view>

namespace Zorvik::Impl {

class NameOrder {
public:
    using is_transparent = void;

    NameOrder() : locale_(), facet_(&std::use_facet<std::ctype<wchar_t>>(locale_)) {}

    bool operator()(std::wstring_view a, std::wstring_view b) const {
        const std::size_t common = a.size() < b.size() ? a.size() : b.size();
        for (std::size_t i = 0; i < common; ++i) {
            if (a[i] == b[i]) continue;
            const wchar_t upperA = facet_->toupper(a[i]);
            const wchar_t upperB = facet_->toupper(b[i]);
            if (upperA != upperB) return upperA < upperB;
        }
        return a.size() < b.size();
    }

private:
    std::locale locale_;  // keeps the facet alive
    const std::ctype<wchar_t>* facet_;
};

}  // namespace Zorvik::Impl
