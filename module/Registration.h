// The table of activatable runtime classes.
#pragma once

#include <span>
#include <string_view>

#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Impl {

struct Registration {
    std::wstring_view ClassName;
    zorvik::rt::com_ptr<IActivationFactory> (*CreateFactory)();
};

std::span<const Registration> RegisteredClasses();

}  // namespace Zorvik::Impl
