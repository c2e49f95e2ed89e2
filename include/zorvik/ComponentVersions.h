// The versions of the component and of the archive engine it loaded. The activation factory of
// ArchiveInfo implements this interface beside its statics; callers ask for it with
// QueryInterface.
#pragma once

#include "zorvik/Formats.h"

namespace Zorvik {

struct IComponentVersions : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IComponentVersions");
    static constexpr const char* name = "Zorvik.IComponentVersions";
    // "MAJOR.MINOR.PATCH".
    virtual HRESULT get_ComponentVersion(HSTRING* value) = 0;
    // The engine module's own version ("26.02"); loading the engine if need be, which fails as
    // opening an archive would.
    virtual HRESULT get_EngineVersion(HSTRING* value) = 0;
};

}  // namespace Zorvik
