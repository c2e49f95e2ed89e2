#include "rar/RarHandlerFactory.h"

namespace Zorvik::Impl::RAR {

// The in-process reader is not built yet: the engine's handler opens every RAR archive.
zorvik::rt::com_ptr<Engine::IInArchive> CreateHandler() { return nullptr; }

}  // namespace Zorvik::Impl::RAR
