// Creating the platform's classes by name, as applications and the component do.
#pragma once

#include <string_view>

#include "zorvik/runtime/com_ptr.h"

// Activates "Windows.Storage.Streams.DataWriter" or
// "Windows.Storage.Streams.InMemoryRandomAccessStream"; other names fail with
// REGDB_E_CLASSNOTREG.
ZORVIK_RUNTIME_API HRESULT RoActivateInstance(HSTRING activatableClassId, IInspectable** instance)
    ZORVIK_RUNTIME_SYMBOL(RoActivateInstance);

namespace zorvik::rt {

// A new instance of a platform class, as interface I.
template <typename I = IInspectable>
com_ptr<I> activate_instance(std::wstring_view class_name) {
    com_ptr<IInspectable> instance;
    check_hresult(RoActivateInstance(hstring(class_name).get(), instance.put()));
    return instance.as<I>();
}

}  // namespace zorvik::rt
