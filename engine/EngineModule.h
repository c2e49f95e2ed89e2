// The archive engine module, loaded once from beside the component (or from $ZORVIK_ENGINE).
#pragma once

#include "engine/EngineInterfaces.h"
#include "engine/WSHelperObjects.h"

namespace Zorvik::Engine {

struct EngineModule {
    CreateObjectFunc CreateObject;
    GetNumberOfFormatsFunc GetNumberOfFormats;
    GetHandlerProperty2Func GetHandlerProperty2;
    HRESULT (*Init7zipLibForWS)(IWSHelperObjectsFactory* factory);

    // The loaded module; raises HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) when it cannot be
    // loaded and HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND) when it lacks an export.
    static const EngineModule& Get();
};

}  // namespace Zorvik::Engine
