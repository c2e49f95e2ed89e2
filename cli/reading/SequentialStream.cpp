#include "cli/reading/SequentialStream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "zorvik/runtime/async.h"
#include "zorvik/runtime/streams.h"

namespace Zorvik::Cli {

using ABI::Windows::Foundation::IAsyncOperation;
using ABI::Windows::Storage::Streams::IBuffer;
using ABI::Windows::Storage::Streams::IInputStream;
using ABI::Windows::Storage::Streams::IOutputStream;
using ABI::Windows::Storage::Streams::IRandomAccessStream;

SequentialStream::SequentialStream() : sink_([](std::span<const std::uint8_t>) {}) {}

SequentialStream::SequentialStream(Sink sink) : sink_(std::move(sink)) {}

SequentialStream::Sink SequentialStream::WriteTo(int fd) {
    return [fd](std::span<const std::uint8_t> bytes) {
        while (!bytes.empty()) {
            const ssize_t written = ::write(fd, bytes.data(), bytes.size());
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) throw std::system_error(errno, std::generic_category(), "write");
            bytes = bytes.subspan(static_cast<std::size_t>(written));
        }
    };
}

HRESULT SequentialStream::get_Size(std::uint64_t* size) {
    if (!size) return E_POINTER;
    *size = size_.load();
    return S_OK;
}

HRESULT SequentialStream::put_Size(std::uint64_t size) {
    size_.store(size);
    return S_OK;
}

HRESULT SequentialStream::GetInputStreamAt(std::uint64_t, IInputStream** stream) {
    if (stream) *stream = nullptr;
    return E_NOTIMPL;
}

HRESULT SequentialStream::GetOutputStreamAt(std::uint64_t, IOutputStream** stream) {
    if (stream) *stream = nullptr;
    return E_NOTIMPL;
}

HRESULT SequentialStream::get_Position(std::uint64_t* position) {
    if (!position) return E_POINTER;
    *position = position_.load();
    return S_OK;
}

HRESULT SequentialStream::Seek(std::uint64_t position) {
    position_.store(position);
    return S_OK;
}

HRESULT SequentialStream::CloneStream(IRandomAccessStream** stream) {
    if (stream) *stream = nullptr;
    return E_NOTIMPL;
}

HRESULT SequentialStream::get_CanRead(bool* canRead) {
    if (!canRead) return E_POINTER;
    *canRead = false;
    return S_OK;
}

HRESULT SequentialStream::get_CanWrite(bool* canWrite) {
    if (!canWrite) return E_POINTER;
    *canWrite = true;
    return S_OK;
}

HRESULT SequentialStream::WriteAsync(IBuffer* buffer, IAsyncOperation<std::uint32_t>** operation) {
    if (!buffer || !operation) return E_POINTER;
    *operation = nullptr;
    return zorvik::rt::boundary([&] {
        std::uint32_t length = 0;
        zorvik::rt::check_hresult(buffer->get_Length(&length));
        sink_({zorvik::rt::buffer_data(buffer), length});
        const std::uint64_t end = position_.fetch_add(length) + length;
        std::uint64_t size = size_.load();
        while (size < end && !size_.compare_exchange_weak(size, end)) {
        }
        *operation = zorvik::rt::completed_async<std::uint32_t>(length).detach();
    });
}

HRESULT SequentialStream::FlushAsync(IAsyncOperation<bool>** operation) {
    if (!operation) return E_POINTER;
    *operation = nullptr;
    return zorvik::rt::boundary([&] { *operation = zorvik::rt::completed_async<bool>(true).detach(); });
}

HRESULT SequentialStream::Close() { return S_OK; }

}  // namespace Zorvik::Cli
