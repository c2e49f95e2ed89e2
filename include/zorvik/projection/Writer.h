// zorvik::writer_stream: a destination that hands every byte written, in order, to a callable,
// for a caller that takes an entry's data as it is decoded (a pipe, a queue, a hash) instead of
// holding it all. Seeking moves the position reported only: an extraction writes each entry
// from its start to its end.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <span>

#include "zorvik/projection/Streams.h"
#include "zorvik/runtime/async.h"
#include "zorvik/runtime/implements.h"

namespace zorvik {

namespace detail {

class writer_object final
    : public zorvik::rt::implements<writer_object, ABI::Windows::Storage::Streams::IRandomAccessStream,
                                    ABI::Windows::Storage::Streams::IOutputStream, ABI::Windows::Foundation::IClosable> {
public:
    static constexpr const char* runtime_class_name = "zorvik.WriterStream";
    using Write = std::function<void(std::span<const std::byte>)>;
    explicit writer_object(Write write) : write_(std::move(write)) {}

    HRESULT get_Size(std::uint64_t* size) override { return value(size, size_.load()); }
    HRESULT put_Size(std::uint64_t size) override {
        size_.store(size);
        return S_OK;
    }
    HRESULT GetInputStreamAt(std::uint64_t, ABI::Windows::Storage::Streams::IInputStream** stream) override {
        if (stream) *stream = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetOutputStreamAt(std::uint64_t, ABI::Windows::Storage::Streams::IOutputStream** stream) override {
        if (stream) *stream = nullptr;
        return E_NOTIMPL;
    }
    HRESULT get_Position(std::uint64_t* position) override { return value(position, position_.load()); }
    HRESULT Seek(std::uint64_t position) override {
        position_.store(position);
        return S_OK;
    }
    HRESULT CloneStream(ABI::Windows::Storage::Streams::IRandomAccessStream** stream) override {
        if (stream) *stream = nullptr;
        return E_NOTIMPL;
    }
    HRESULT get_CanRead(bool* can) override { return value(can, false); }
    HRESULT get_CanWrite(bool* can) override { return value(can, true); }

    // A callable that throws fails the write, and so the entry.
    HRESULT WriteAsync(ABI::Windows::Storage::Streams::IBuffer* buffer,
                       ABI::Windows::Foundation::IAsyncOperation<std::uint32_t>** operation) override {
        if (!buffer || !operation) return E_POINTER;
        *operation = nullptr;
        return zorvik::rt::boundary([&] {
            const std::uint32_t length = zorvik::rt::buffer_length(buffer);
            write_({reinterpret_cast<const std::byte*>(zorvik::rt::buffer_data(buffer)), length});
            const std::uint64_t end = position_.fetch_add(length) + length;
            std::uint64_t size = size_.load();
            while (size < end && !size_.compare_exchange_weak(size, end)) {
            }
            *operation = zorvik::rt::completed_async<std::uint32_t>(length).detach();
        });
    }
    HRESULT FlushAsync(ABI::Windows::Foundation::IAsyncOperation<bool>** operation) override {
        if (!operation) return E_POINTER;
        *operation = nullptr;
        return zorvik::rt::boundary([&] { *operation = zorvik::rt::completed_async<bool>(true).detach(); });
    }
    HRESULT Close() override { return S_OK; }

private:
    template <typename T>
    static HRESULT value(T* out, T value) {
        if (!out) return E_POINTER;
        *out = value;
        return S_OK;
    }

    Write write_;
    std::atomic<std::uint64_t> size_{0};
    std::atomic<std::uint64_t> position_{0};
};

}  // namespace detail

// A stream that gives write every byte written to it (on the operation's threads).
inline Stream writer_stream(std::function<void(std::span<const std::byte>)> write) {
    return Stream(zorvik::rt::make<detail::writer_object>(std::move(write)).as<IRandomAccessStream>());
}

}  // namespace zorvik
