// The in-process RAR 5 handler: the RAR reader behind the engine's archive interface, so that
// everything above it treats RAR like any engine format.
#pragma once

#include <memory>

#include "base/ComponentObject.h"
#include "engine/EngineInterfaces.h"

namespace UnRAR {
class Reader;
}

namespace Zorvik::Impl::RAR {

class Archive final : public ComponentObject<Archive, Engine::IInArchive> {
public:
    Archive();
    ~Archive() override;

    // 0 opened; 1 when the stream is not a RAR 5 archive (another handler may take it).
    HRESULT Open(Engine::IInStream* stream, const std::uint64_t* maxCheckStartPosition,
                 Engine::IArchiveOpenCallback* openCallback) override;
    HRESULT Close() override;
    HRESULT GetNumberOfItems(std::uint32_t* numItems) override;
    HRESULT GetProperty(std::uint32_t index, Engine::PROPID propID, PROPVARIANT* value) override;
    // numItems 0xFFFFFFFF with no index array extracts every item.
    HRESULT Extract(const std::uint32_t* indices, std::uint32_t numItems, std::int32_t testMode,
                    Engine::IArchiveExtractCallback* extractCallback) override;
    HRESULT GetArchiveProperty(Engine::PROPID propID, PROPVARIANT* value) override;
    HRESULT GetNumberOfProperties(std::uint32_t* numProps) override;
    HRESULT GetPropertyInfo(std::uint32_t index, BSTR* name, Engine::PROPID* propID, VARTYPE* varType) override;
    HRESULT GetNumberOfArchiveProperties(std::uint32_t* numProps) override;
    HRESULT GetArchivePropertyInfo(std::uint32_t index, BSTR* name, Engine::PROPID* propID, VARTYPE* varType) override;

private:
    std::unique_ptr<UnRAR::Reader> reader_;
};

}  // namespace Zorvik::Impl::RAR
