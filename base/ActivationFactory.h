// The activation factory of a runtime class without statics.
#pragma once

#include "base/ComponentObject.h"

namespace Zorvik::Impl {

// Class names the factory ("Zorvik.__<Class>ActivationFactory") and, when it is
// default-activatable, offers a static Create() returning its new instance; otherwise
// ActivateInstance fails with E_NOTIMPL.
template <typename Class>
class ActivationFactory final : public ComponentObject<ActivationFactory<Class>, IActivationFactory> {
public:
    static constexpr const char* runtime_class_name = Class::FactoryName;

    HRESULT ActivateInstance(IInspectable** instance) override {
        if (!instance) return E_POINTER;
        *instance = nullptr;
        return zorvik::rt::boundary([&] {
            if constexpr (requires { Class::Create(); })
                *instance = Class::Create().template as<IInspectable>().detach();
            else
                throw zorvik::rt::not_implemented_error();
        });
    }
};

}  // namespace Zorvik::Impl
