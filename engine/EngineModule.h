// The archive engine module, loaded once from the zorvik/ folder beside the component (or from
// $ZORVIK_ENGINE).
#pragma once

#include <string>

#include "engine/EngineInterfaces.h"
#include "engine/WSHelperObjects.h"

namespace Zorvik::Engine {

struct EngineModule {
    CreateObjectFunc CreateObject;
    GetNumberOfFormatsFunc GetNumberOfFormats;
    GetHandlerProperty2Func GetHandlerProperty2;
    HRESULT (*Init7zipLibForWS)(IWSHelperObjectsFactory* factory);
    // Optional: engines before 9.x lack it.
    HRESULT (*GetModuleProp)(PROPID propID, PROPVARIANT* value);

    // "MAJOR.MINOR" as the engine numbers its releases ("26.02"); empty when it does not say.
    std::wstring Version() const;

    // The loaded module; raises HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) when it cannot be
    // loaded and HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND) when it lacks an export.
    static const EngineModule& Get();
};

}  // namespace Zorvik::Engine
