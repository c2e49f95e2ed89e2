// Spill storage for the engine: the first MiB in memory, the rest in a "7zt*.tmp" file in the
// application's temporary folder, deleted when the buffer goes.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "engine/WSHelperObjects.h"
#include "zorvik/runtime/win32.h"

namespace Zorvik::Engine {

class InOutTempBuffer final : public IWSInOutTempBuffer {
public:
    static constexpr std::uint32_t kBufferSize = 0x100000;

    InOutTempBuffer() = default;
    InOutTempBuffer(const InOutTempBuffer&) = delete;
    InOutTempBuffer& operator=(const InOutTempBuffer&) = delete;
    ~InOutTempBuffer();

    void Create() override;
    void InitWriting() override;
    bool Write(const void* data, std::uint32_t size) override;
    HRESULT WriteToStream(ISequentialOutStream* stream) override;
    std::uint64_t GetDataSize() override { return Size; }

private:
    // Deletes its file when destroyed.
    struct TempFileRecord {
        std::wstring Path;
        ~TempFileRecord();
    };

    void CreateSpillFile();
    void CloseFileHandle() noexcept;

    std::unique_ptr<TempFileRecord> TempFile;
    HANDLE FileHandle = INVALID_HANDLE_VALUE;
    std::unique_ptr<std::uint8_t[]> Buffer;
    std::uint32_t BufferUsed = 0;
    bool TempFileCreated = false;
    std::uint64_t Size = 0;
};

// The one process-wide factory handed to the engine by Init7zipLibForWS.
class WSHelperObjectsFactory final : public IWSHelperObjectsFactory {
public:
    std::shared_ptr<IWSInOutTempBuffer> CreateInOutTempBuffer() override;
    static WSHelperObjectsFactory& Instance() noexcept;
};

}  // namespace Zorvik::Engine
