#include "archive/ArchiveOrigin.h"

#include "archive/ReopenCallback.h"
#include "engine/EngineModule.h"

namespace Zorvik::Impl {

using zorvik::rt::com_ptr;

com_ptr<Engine::IInArchive> OpenAgain(const std::shared_ptr<const ArchiveOrigin>& origin) {
    try {
        com_ptr<IRandomAccessStream> clone;
        if (FAILED(origin->Stream->CloneStream(clone.put())) || !clone) return nullptr;
        auto stream = zorvik::rt::make<InputStreamAdapter>(std::move(clone));
        auto callback = zorvik::rt::make<ReopenCallback>(origin, stream);
        com_ptr<Engine::IInArchive> handler;
        if (FAILED(Engine::EngineModule::Get().CreateObject(&origin->ClassId, &Engine::IInArchive::iid, handler.put_void())) || !handler)
            return nullptr;
        if (handler->Open(stream.get(), nullptr, static_cast<Engine::IArchiveOpenCallback*>(callback.get())) != S_OK) return nullptr;
        std::uint32_t count = 0;
        if (handler->GetNumberOfItems(&count) != S_OK || count != origin->ItemCount) return nullptr;
        return handler;
    } catch (...) {
        // Whatever went wrong, the extraction goes on with the handlers it has.
        return nullptr;
    }
}

}  // namespace Zorvik::Impl
