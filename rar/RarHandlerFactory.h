// The in-process RAR handler, tried before the engine's own for the format named "Rar".
#pragma once

#include "engine/EngineInterfaces.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Impl::RAR {

// A new in-process RAR handler, or null when none is available.
zorvik::rt::com_ptr<Engine::IInArchive> CreateHandler();

}  // namespace Zorvik::Impl::RAR
