// The two helper-object interfaces through which the engine module obtains spill storage from
// the component. Shared by ABI with the engine module's own declaration: keep the slot order.
#pragma once

#include <memory>

#include "engine/EngineInterfaces.h"

namespace Zorvik::Engine {

// A write-then-read-back scratch buffer: memory first, a temporary file beyond that.
struct IWSInOutTempBuffer {
    virtual void Create() = 0;
    virtual void InitWriting() = 0;
    virtual bool Write(const void* data, std::uint32_t size) = 0;
    virtual HRESULT WriteToStream(ISequentialOutStream* stream) = 0;
    virtual std::uint64_t GetDataSize() = 0;

protected:
    // Owned through std::shared_ptr, whose control block knows the concrete type.
    ~IWSInOutTempBuffer() = default;
};

struct IWSHelperObjectsFactory {
    // Returned by value through the hidden result slot: object pointer, then control block.
    virtual std::shared_ptr<IWSInOutTempBuffer> CreateInOutTempBuffer() = 0;
    virtual ~IWSHelperObjectsFactory() = default;
};

}  // namespace Zorvik::Engine
