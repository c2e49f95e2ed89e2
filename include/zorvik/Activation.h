// Reaching the component's runtime classes by name, as an application does: the activation
// entry points libZorvik.UWP.so exports, and two helpers over them.
#pragma once

#include <string_view>

#include "zorvik/runtime/com_ptr.h"

extern "C" {
// The activation factory of the runtime class named activatableClassId ("Zorvik.Archive");
// REGDB_E_CLASSNOTREG for a name the component does not have.
HRESULT DllGetActivationFactory(HSTRING activatableClassId, IActivationFactory** factory);
// S_OK once no object of the component is alive, S_FALSE before.
HRESULT DllCanUnloadNow();
}

namespace Zorvik {

// The activation factory of a runtime class as interface I: the statics of a class
// (__IArchiveInfoStatics of "Zorvik.ArchiveInfo", say) are its factory's.
template <typename I = IActivationFactory>
zorvik::rt::com_ptr<I> GetActivationFactory(std::wstring_view className) {
    zorvik::rt::com_ptr<IActivationFactory> factory;
    zorvik::rt::check_hresult(DllGetActivationFactory(zorvik::rt::hstring(className).get(), factory.put()));
    return factory.template as<I>();
}

// A new instance of a runtime class ("Zorvik.Archive", say) as interface I.
template <typename I = IInspectable>
zorvik::rt::com_ptr<I> ActivateInstance(std::wstring_view className) {
    zorvik::rt::com_ptr<IInspectable> instance;
    zorvik::rt::check_hresult(GetActivationFactory(className)->ActivateInstance(instance.put()));
    return instance.template as<I>();
}

}  // namespace Zorvik
