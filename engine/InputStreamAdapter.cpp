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

InputStreamAdapter::InputStreamAdapter(com_ptr<IRandomAccessStream> stream, ReadFailure readFailure)
    : stream_(std::move(stream)), input_(stream_.try_as<IInputStream>()), readFailure_(readFailure) {}

std::uint64_t InputStreamAdapter::Size() const {
    std::uint64_t size = 0;
    check_hresult(stream_->get_Size(&size));
    return size;
}

std::uint64_t InputStreamAdapter::Position() const {
    std::uint64_t position = 0;
    check_hresult(stream_->get_Position(&position));
    return position;
}

HRESULT InputStreamAdapter::Read(void* data, std::uint32_t size, std::uint32_t* processedSize) {
    if (processedSize) *processedSize = 0;
    if (size == 0) return S_OK;
    if (!data) return E_POINTER;
    const HRESULT failed = readFailure_ == ReadFailure::Reported ? E_FAIL : S_FALSE;
    if (!input_) return failed;
    try {
        auto buffer = zorvik::rt::make<WinrtBufferImpl>(static_cast<std::uint8_t*>(data), size);
        com_ptr<ABI::Windows::Foundation::IAsyncOperation<IBuffer*>> operation;
        check_hresult(input_->ReadAsync(buffer.get(), size, InputStreamOptions::Partial, operation.put()));
        const com_ptr<IBuffer> result = zorvik::rt::get(operation);
        std::uint32_t read = buffer->Length();
        if (result && result.get() != static_cast<IBuffer*>(buffer.get())) read = CopyFromOtherBuffer(result.get(), data, size);
        if (processedSize) *processedSize = read;
        return S_OK;
    } catch (const zorvik::rt::hresult_error& error) {
        return readFailure_ == ReadFailure::Reported && FAILED(error.code()) ? error.code() : failed;
    } catch (...) {
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
        std::uint64_t reached = current;
        if (target != current) {
            check_hresult(stream_->Seek(target));
            reached = Position();
        }
        if (newPosition) *newPosition = reached;
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
