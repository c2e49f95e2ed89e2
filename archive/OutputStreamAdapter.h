// Presents a platform random-access stream to the engine as an output stream, with write-behind:
// engine writes gather in a 128 KiB buffer, and each full buffer goes to the platform in one
// asynchronous write while the engine fills a second one. That is far more than a write needs
// to be cheap, and little next to what the engine itself takes.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "base/ComponentObject.h"
#include "engine/EngineInterfaces.h"
#include "zorvik/runtime/async_abi.h"
#include "zorvik/runtime/streams_abi.h"

namespace Zorvik::Impl {

// Buffers that the adapters of one operation take in turn: a run of small entries reuses two
// buffers whose pages are already in memory, instead of allocating (and faulting in) new ones
// for each entry.
class OutputBuffers {
public:
    // An empty buffer with room for size bytes.
    std::vector<std::uint8_t> Take(std::size_t size);
    void Give(std::vector<std::uint8_t> buffer) noexcept;

private:
    static constexpr std::size_t kKept = 2;

    std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> spare_;
};

class OutputStreamAdapter final : public ComponentObject<OutputStreamAdapter, Engine::IOutStream> {
public:
    static constexpr std::uint32_t kBufferSize = 0x20000;

    // Buffers come from buffers when given, else from a set of the adapter's own.
    explicit OutputStreamAdapter(zorvik::rt::com_ptr<ABI::Windows::Storage::Streams::IRandomAccessStream> stream,
                                 std::shared_ptr<OutputBuffers> buffers = nullptr);
    // Hands over the buffered tail and waits for it; a failure here has nobody to reach, so
    // whoever needs to know calls Finish first.
    ~OutputStreamAdapter() override;

    // Accepts at most up to the end of the buffer. Platform failures come back as their HRESULT
    // (0 bytes processed), other failures as S_FALSE. Once a write has failed, every later call
    // reports that failure: data after lost data is never accepted as if it landed.
    HRESULT Write(const void* data, std::uint32_t size, std::uint32_t* processedSize) override;
    // Both flush the buffer and the platform stream and wait for them first.
    HRESULT Seek(std::int64_t offset, std::uint32_t seekOrigin, std::uint64_t* newPosition) override;
    HRESULT SetSize(std::uint64_t newSize) override;

    // Hands over the buffered tail, waits for every platform write and reports the first failure
    // of any of them (S_OK when all the data landed). The buffers go back to where they came
    // from; writing may go on afterwards, in buffers taken anew.
    HRESULT Finish() noexcept;

private:
    using WriteOperation = ABI::Windows::Foundation::IAsyncOperation<std::uint32_t>;
    using FlushOperation = ABI::Windows::Foundation::IAsyncOperation<bool>;

    // Runs a step that hands data to the platform; its failure sticks.
    template <typename Step>
    HRESULT Deliver(Step&& step) noexcept;
    void Flush(bool flushStream);
    void Wait();
    bool WriteEnded() const noexcept;

    std::shared_ptr<OutputBuffers> buffers_;
    // The engine fills one buffer while the pending write, if any, reads the other.
    std::vector<std::uint8_t> buffer_;
    std::vector<std::uint8_t> writing_;
    zorvik::rt::com_ptr<FlushOperation> pendingFlush_;
    zorvik::rt::com_ptr<WriteOperation> pendingWrite_;
    zorvik::rt::com_ptr<ABI::Windows::Storage::Streams::IRandomAccessStream> stream_;
    // Queried once; null when the stream cannot be written, which the first write reports.
    zorvik::rt::com_ptr<ABI::Windows::Storage::Streams::IOutputStream> output_;
    // The first failure, kept so that nothing after it passes for success.
    HRESULT failure_ = S_OK;
};

}  // namespace Zorvik::Impl
