#include "archive/OutputStreamAdapter.h"

#include <algorithm>
#include <utility>

#include "engine/SeekTarget.h"
#include "engine/WinrtBufferImpl.h"
#include "zorvik/runtime/streams.h"

namespace Zorvik::Impl {

using ABI::Windows::Foundation::AsyncStatus;
using ABI::Windows::Foundation::IAsyncInfo;
using ABI::Windows::Storage::Streams::IOutputStream;
using ABI::Windows::Storage::Streams::IRandomAccessStream;
using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;

namespace {

// Runs an engine-facing body: platform exceptions become their HRESULT, anything else S_FALSE.
template <typename Body>
HRESULT Guarded(Body&& body) noexcept {
    try {
        body();
        return S_OK;
    } catch (const zorvik::rt::hresult_error& error) {
        return FAILED(error.code()) ? error.code() : E_FAIL;
    } catch (...) {
        return S_FALSE;
    }
}

}  // namespace

std::vector<std::uint8_t> OutputBuffers::Take(std::size_t size) {
    {
        std::lock_guard lock(mutex_);
        if (!spare_.empty()) {
            std::vector<std::uint8_t> buffer = std::move(spare_.back());
            spare_.pop_back();
            return buffer;
        }
    }
    std::vector<std::uint8_t> buffer;
    buffer.reserve(size);
    return buffer;
}

void OutputBuffers::Give(std::vector<std::uint8_t> buffer) noexcept {
    if (buffer.capacity() == 0) return;
    buffer.clear();
    std::lock_guard lock(mutex_);
    if (spare_.size() < kKept) spare_.push_back(std::move(buffer));  // else freed here
}

OutputStreamAdapter::OutputStreamAdapter(com_ptr<IRandomAccessStream> stream, std::shared_ptr<OutputBuffers> buffers)
    : buffers_(buffers ? std::move(buffers) : std::make_shared<OutputBuffers>()),
      stream_(std::move(stream)),
      output_(stream_.try_as<IOutputStream>()) {}

template <typename Step>
HRESULT OutputStreamAdapter::Deliver(Step&& step) noexcept {
    if (FAILED(failure_)) return failure_;
    const HRESULT hr = Guarded(step);
    if (hr != S_OK) failure_ = FAILED(hr) ? hr : E_FAIL;
    return hr;
}

OutputStreamAdapter::~OutputStreamAdapter() {
    (void)Deliver([&] { Flush(false); });
    // Even after a failure no write of ours is left running on the caller's stream, nor
    // reading the buffers handed back.
    (void)Guarded([&] { Wait(); });
    buffers_->Give(std::move(buffer_));
    buffers_->Give(std::move(writing_));
}

HRESULT OutputStreamAdapter::Write(const void* data, std::uint32_t size, std::uint32_t* processedSize) {
    if (processedSize) *processedSize = 0;
    if (size > 0 && !data) return E_POINTER;
    // A platform write that failed stops the engine now rather than a whole buffer later.
    if (WriteEnded()) {
        if (const HRESULT hr = Deliver([&] { Wait(); }); hr != S_OK) return hr;
    }
    if (FAILED(failure_)) return failure_;

    if (buffer_.capacity() < kBufferSize) buffer_ = buffers_->Take(kBufferSize);
    const auto accepted = static_cast<std::uint32_t>(std::min<std::size_t>(size, kBufferSize - buffer_.size()));
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    buffer_.insert(buffer_.end(), bytes, bytes + accepted);  // within the reserved capacity
    if (buffer_.size() == kBufferSize) {
        if (const HRESULT hr = Deliver([&] { Flush(false); }); hr != S_OK) return hr;
    }
    if (processedSize) *processedSize = accepted;
    return S_OK;
}

HRESULT OutputStreamAdapter::Seek(std::int64_t offset, std::uint32_t seekOrigin, std::uint64_t* newPosition) {
    if (const HRESULT hr = Deliver([&] {
            Flush(true);
            Wait();
        });
        hr != S_OK)
        return hr;
    if (seekOrigin > 2) return STG_E_INVALIDFUNCTION;
    return Guarded([&] {
        std::uint64_t base = 0;
        if (seekOrigin == 1) check_hresult(stream_->get_Position(&base));
        if (seekOrigin == 2) check_hresult(stream_->get_Size(&base));
        std::uint64_t target = 0;
        check_hresult(SeekTarget(offset, base, target));
        check_hresult(stream_->Seek(target));
        if (newPosition) check_hresult(stream_->get_Position(newPosition));
    });
}

HRESULT OutputStreamAdapter::SetSize(std::uint64_t newSize) {
    if (const HRESULT hr = Deliver([&] {
            Flush(true);
            Wait();
        });
        hr != S_OK)
        return hr;
    return Guarded([&] { check_hresult(stream_->put_Size(newSize)); });
}

HRESULT OutputStreamAdapter::Finish() noexcept {
    (void)Deliver([&] {
        Flush(false);
        Wait();
    });
    (void)Guarded([&] { Wait(); });
    buffers_->Give(std::move(buffer_));
    buffers_->Give(std::move(writing_));
    return failure_;
}

// Once the previous write is done, hands the filled buffer to the platform as it is and takes
// the other one to fill. The platform reads the bytes in place: Wait, which every path runs
// before the buffer is refilled or freed, is what keeps them alive and untouched.
void OutputStreamAdapter::Flush(bool flushStream) {
    if (buffer_.empty()) return;
    if (!output_) zorvik::rt::throw_hresult(E_NOINTERFACE);
    Wait();
    std::swap(buffer_, writing_);
    buffer_.clear();
    const auto chunk = zorvik::rt::make<WinrtBufferImpl>(writing_.data(), static_cast<std::uint32_t>(writing_.size()));
    check_hresult(chunk->put_Length(static_cast<std::uint32_t>(writing_.size())));
    check_hresult(output_->WriteAsync(chunk.get(), pendingWrite_.put()));
    if (flushStream) {
        pendingFlush_ = zorvik::rt::run_async<bool>([write = pendingWrite_, output = output_] {
            zorvik::rt::get(write);
            com_ptr<FlushOperation> flush;
            check_hresult(output->FlushAsync(flush.put()));
            return zorvik::rt::get(flush);
        });
    }
}

void OutputStreamAdapter::Wait() {
    const auto flush = std::exchange(pendingFlush_, nullptr);
    const auto write = std::exchange(pendingWrite_, nullptr);
    // The flush waits for the write and fails with it, so the write has ended once the flush has.
    if (flush) zorvik::rt::get(flush);
    // A stream that takes less than it was given has lost the rest.
    if (write && zorvik::rt::get(write) != writing_.size()) throw zorvik::rt::hresult_error(E_FAIL, "short platform write");
}

bool OutputStreamAdapter::WriteEnded() const noexcept {
    if (!pendingWrite_) return false;
    const auto info = pendingWrite_.try_as<IAsyncInfo>();
    AsyncStatus status = AsyncStatus::Started;
    return info && SUCCEEDED(info->get_Status(&status)) && status != AsyncStatus::Started;
}

}  // namespace Zorvik::Impl
