// The activation factory of ArchiveInfo, which carries the class's statics: the engine's
// formats as ArchiveFormat objects.
#pragma once

#include "base/ComponentObject.h"
#include "zorvik/ComponentVersions.h"
#include "zorvik/Formats.h"

namespace Zorvik::Impl {

class ArchiveInfoFactory final : public ComponentObject<ArchiveInfoFactory, __IArchiveInfoStatics, IActivationFactory, IComponentVersions> {
public:
    static constexpr const char* runtime_class_name = "Zorvik.__ArchiveInfoActivationFactory";

    // ArchiveInfo has statics only: activation fails with E_NOTIMPL.
    HRESULT ActivateInstance(IInspectable** instance) override;

    // A new observable vector, one ArchiveFormat per format of a freshly built list.
    HRESULT get_Formats(ABI::Windows::Foundation::Collections::IVector<IArchiveFormat*>** formats) override;

    HRESULT get_ComponentVersion(HSTRING* value) override;
    HRESULT get_EngineVersion(HSTRING* value) override;
};

zorvik::rt::com_ptr<IActivationFactory> CreateArchiveInfoFactory();

}  // namespace Zorvik::Impl
