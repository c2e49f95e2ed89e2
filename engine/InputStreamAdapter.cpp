#include "engine/InputStreamAdapter.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/WinrtBufferImpl.h"
#include "zorvik/runtime/streams.h"

namespace Zorvik::Impl {

using ABI::Windows::Storage::Streams::IBuffer;
using ABI::Windows::Storage::Streams::IInputStream;
using ABI::Windows::Storage::Streams::InputStreamOptions;
using ABI::Windows::Storage::Streams::IRandomAccessStream;
using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;

namespace {

// A stream may answer with a buffer of its own instead of the one it was given.
std::uint32_t CopyFromOtherBuffer(IBuffer* result, void* data, std::uint32_t size) {
    const std::uint32_t length = std::min(zorvik::rt::buffer_length(result), size);
    if (length > 0) std::memcpy(data, zorvik::rt::buffer_data(result), length);
    return length;
}

}  // namespace

InputStreamAdapter::InputStreamAdapter(com_ptr<IRandomAccessStream> stream, ReadFailure readFailure, std::uint64_t leastSize)
    : stream_(std::move(stream)), input_(stream_.try_as<IInputStream>()), readFailure_(readFailure), leastSize_(leastSize) {}

std::uint64_t InputStreamAdapter::Size() const {
    std::uint64_t size = 0;
    check_hresult(stream_->get_Size(&size));
    return size;
}

std::uint64_t InputStreamAdapter::Position() {
    if (!position_) {
        std::uint64_t position = 0;
        check_hresult(stream_->get_Position(&position));
        position_ = position;
    }
    return *position_;
}

std::uint32_t InputStreamAdapter::ReadAt(std::uint64_t position, std::uint8_t* data, std::uint32_t size) {
    if (streamPosition_ != position) {
        streamPosition_.reset();
        check_hresult(stream_->Seek(position));
    }
    auto buffer = zorvik::rt::make<WinrtBufferImpl>(data, size);
    com_ptr<ABI::Windows::Foundation::IAsyncOperation<IBuffer*>> operation;
    check_hresult(input_->ReadAsync(buffer.get(), size, InputStreamOptions::Partial, operation.put()));
    const com_ptr<IBuffer> result = zorvik::rt::get(operation);
    std::uint32_t read = buffer->Length();
    if (result && result.get() != static_cast<IBuffer*>(buffer.get())) read = CopyFromOtherBuffer(result.get(), data, size);
    streamPosition_ = position + read;
    return read;
}

HRESULT InputStreamAdapter::Read(void* data, std::uint32_t size, std::uint32_t* processedSize) {
    if (processedSize) *processedSize = 0;
    if (size == 0) return S_OK;
    if (!data) return E_POINTER;
    const HRESULT failed = readFailure_ == ReadFailure::Reported ? E_FAIL : S_FALSE;
    if (!input_) return failed;
    try {
        auto* out = static_cast<std::uint8_t*>(data);
        const std::uint64_t position = Position();
        std::uint32_t done = 0;
        if (position >= aheadStart_ && position - aheadStart_ < ahead_.size()) {
            const auto offset = static_cast<std::size_t>(position - aheadStart_);
            done = static_cast<std::uint32_t>(std::min<std::size_t>(size, ahead_.size() - offset));
            std::memcpy(out, ahead_.data() + offset, done);
        }
        if (done < size && size - done >= kBlock) {
            done += ReadAt(position + done, out + done, size - done);
        } else if (done < size) {
            ahead_.resize(kBlock);
            aheadStart_ = position + done;
            ahead_.resize(ReadAt(aheadStart_, ahead_.data(), kBlock));
            const auto more = static_cast<std::uint32_t>(std::min<std::size_t>(size - done, ahead_.size()));
            std::memcpy(out + done, ahead_.data(), more);
            done += more;
        }
        if (done == 0 && position < leastSize_) return kEndedShort;
        position_ = position + done;
        if (processedSize) *processedSize = done;
        return S_OK;
    } catch (const zorvik::rt::hresult_error& error) {
        ahead_.clear();
        return readFailure_ == ReadFailure::Reported && FAILED(error.code()) ? error.code() : failed;
    } catch (...) {
        ahead_.clear();
        return failed;
    }
}

HRESULT InputStreamAdapter::Seek(std::int64_t offset, std::uint32_t seekOrigin, std::uint64_t* newPosition) {
    if (seekOrigin > 2) return STG_E_INVALIDFUNCTION;
    try {
        const std::uint64_t current = Position();
        const std::uint64_t base = seekOrigin == 0 ? 0 : seekOrigin == 1 ? current : Size();
        std::uint64_t target = 0;
        if (const HRESULT hr = SeekTarget(offset, base, target); hr != S_OK) return hr;
        if (target != current) {
            streamPosition_.reset();
            check_hresult(stream_->Seek(target));
            std::uint64_t reached = 0;
            check_hresult(stream_->get_Position(&reached));
            streamPosition_ = position_ = reached;
        }
        if (newPosition) *newPosition = *position_;
        return S_OK;
    } catch (...) {
        return S_FALSE;
    }
}

HRESULT InputStreamAdapter::GetSize(std::uint64_t* size) {
    if (!size) return E_POINTER;
    try {
        *size = Size();
        return S_OK;
    } catch (...) {
        return S_FALSE;
    }
}

}  // namespace Zorvik::Impl
