// Presents a platform random-access stream to the engine as a seekable input stream. Engines
// read headers a few bytes at a time (a zip of 20,000 files takes 170,000 reads): reads smaller
// than a block are served from a block read ahead, larger ones go to the platform straight
// into the engine's memory.
#pragma once

#include <optional>
#include <vector>

#include "base/ComponentObject.h"
#include "engine/EngineInterfaces.h"
#include "engine/SeekTarget.h"
#include "zorvik/runtime/streams_abi.h"
#include "zorvik/runtime/win32.h"

namespace Zorvik::Impl {

// What a failing platform read gives the engine.
enum class ReadFailure {
    EndOfData,  // S_FALSE and no bytes: an archive being probed simply does not open
    Reported,   // the failure itself: content being archived must never end short unnoticed
};

// What a read gives when the data ends before the size it was said to have.
inline constexpr HRESULT kEndedShort = HRESULT_FROM_WIN32(38);  // ERROR_HANDLE_EOF

class InputStreamAdapter final : public ComponentObject<InputStreamAdapter, Engine::IInStream, Engine::IStreamGetSize> {
public:
    // The data must hold at least leastSize bytes: the end of it before that is kEndedShort.
    explicit InputStreamAdapter(zorvik::rt::com_ptr<ABI::Windows::Storage::Streams::IRandomAccessStream> stream,
                                ReadFailure readFailure = ReadFailure::EndOfData, std::uint64_t leastSize = 0);

    // The stream's size; raises the platform's error.
    std::uint64_t Size() const;

    // A failing platform call gives S_FALSE (and 0 bytes for Read; see ReadFailure): nothing is
    // thrown at the engine.
    HRESULT Read(void* data, std::uint32_t size, std::uint32_t* processedSize) override;
    HRESULT Seek(std::int64_t offset, std::uint32_t seekOrigin, std::uint64_t* newPosition) override;
    HRESULT GetSize(std::uint64_t* size) override;

private:
    static constexpr std::uint32_t kBlock = 0x10000;

    // The engine's position: the stream's until the first read or seek, then kept here, since
    // reading ahead moves the stream beyond it.
    std::uint64_t Position();
    // Reads up to size bytes at position into data with one platform read.
    std::uint32_t ReadAt(std::uint64_t position, std::uint8_t* data, std::uint32_t size);

    zorvik::rt::com_ptr<ABI::Windows::Storage::Streams::IRandomAccessStream> stream_;
    // Queried once: Read is called for every block the engine decodes.
    zorvik::rt::com_ptr<ABI::Windows::Storage::Streams::IInputStream> input_;
    ReadFailure readFailure_;
    std::uint64_t leastSize_;
    std::optional<std::uint64_t> position_;
    std::optional<std::uint64_t> streamPosition_;  // where the last platform read left the stream
    std::vector<std::uint8_t> ahead_;              // the stream's bytes from aheadStart_ on
    std::uint64_t aheadStart_ = 0;
};

}  // namespace Zorvik::Impl
