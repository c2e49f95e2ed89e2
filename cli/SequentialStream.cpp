#include "cli/DiscardStream.h"

#include <algorithm>

#include "zorvik/runtime/async.h"

namespace Zorvik::Cli {

using ABI::Windows::Foundation::IAsyncOperation;
using ABI::Windows::Storage::Streams::IBuffer;
using ABI::Windows::Storage::Streams::IInputStream;
using ABI::Windows::Storage::Streams::IOutputStream;
using ABI::Windows::Storage::Streams::IRandomAccessStream;

HRESULT DiscardStream::get_Size(std::uint64_t* size) {
    if (!size) return E_POINTER;
    *size = size_.load();
    return S_OK;
}

HRESULT DiscardStream::put_Size(std::uint64_t size) {
    size_.store(size);
    return S_OK;
}

HRESULT DiscardStream::GetInputStreamAt(std::uint64_t, IInputStream** stream) {
    if (stream) *stream = nullptr;
    return E_NOTIMPL;
}

HRESULT DiscardStream::GetOutputStreamAt(std::uint64_t, IOutputStream** stream) {
    if (stream) *stream = nullptr;
    return E_NOTIMPL;
}

HRESULT DiscardStream::get_Position(std::uint64_t* position) {
    if (!position) return E_POINTER;
    *position = position_.load();
    return S_OK;
}

HRESULT DiscardStream::Seek(std::uint64_t position) {
    position_.store(position);
    return S_OK;
}

HRESULT DiscardStream::CloneStream(IRandomAccessStream** stream) {
    if (stream) *stream = nullptr;
    return E_NOTIMPL;
}

HRESULT DiscardStream::get_CanRead(bool* canRead) {
    if (!canRead) return E_POINTER;
    *canRead = false;
    return S_OK;
}

HRESULT DiscardStream::get_CanWrite(bool* canWrite) {
    if (!canWrite) return E_POINTER;
    *canWrite = true;
    return S_OK;
}

HRESULT DiscardStream::WriteAsync(IBuffer* buffer, IAsyncOperation<std::uint32_t>** operation) {
    if (!buffer || !operation) return E_POINTER;
    *operation = nullptr;
    return zorvik::rt::boundary([&] {
        std::uint32_t length = 0;
        zorvik::rt::check_hresult(buffer->get_Length(&length));
        const std::uint64_t end = position_.fetch_add(length) + length;
        std::uint64_t size = size_.load();
        while (size < end && !size_.compare_exchange_weak(size, end)) {
        }
        *operation = zorvik::rt::completed_async<std::uint32_t>(length).detach();
    });
}

HRESULT DiscardStream::FlushAsync(IAsyncOperation<bool>** operation) {
    if (!operation) return E_POINTER;
    *operation = nullptr;
    return zorvik::rt::boundary([&] { *operation = zorvik::rt::completed_async<bool>(true).detach(); });
}

HRESULT DiscardStream::Close() { return S_OK; }

}  // namespace Zorvik::Cli
