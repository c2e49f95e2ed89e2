// The module's two exports, declared for applications in zorvik/Activation.h.
#include <algorithm>

#include "base/ComponentObject.h"
#include "module/Registration.h"
#include "zorvik/Activation.h"

extern "C" __attribute__((visibility("default"))) HRESULT DllGetActivationFactory(HSTRING activatableClassId,
                                                                                  IActivationFactory** factory) {
    using namespace Zorvik::Impl;
    if (!factory) return E_POINTER;
    *factory = nullptr;
    return zorvik::rt::boundary([&] {
        std::uint32_t length = 0;
        const wchar_t* text = WindowsGetStringRawBuffer(activatableClassId, &length);
        const std::wstring_view name(text, length);
        const auto classes = RegisteredClasses();
        const auto row = std::find_if(classes.begin(), classes.end(), [&](const Registration& r) { return r.ClassName == name; });
        if (row == classes.end()) zorvik::rt::throw_hresult(REGDB_E_CLASSNOTREG);
        *factory = row->CreateFactory().detach();
    });
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
    return Zorvik::Impl::LiveObjectCount().load() == 0 ? S_OK : S_FALSE;
}
