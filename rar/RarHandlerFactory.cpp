#include "rar/RarHandlerFactory.h"

#include "rar/RarArchive.h"

namespace Zorvik::Impl::RAR {

zorvik::rt::com_ptr<Engine::IInArchive> CreateHandler() { return zorvik::rt::make<Archive>(); }

}  // namespace Zorvik::Impl::RAR
