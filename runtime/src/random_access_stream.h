// A random-access stream over a store, with its own position. Clones and the streams of
// GetInputStreamAt/GetOutputStreamAt share the store; each has its own position and closes
// on its own. The store (and a file's descriptor) goes with the last stream over it and the
// last operation still running on it.
#pragma once

#include "stream_store.h"
#include "zorvik/runtime/implements.h"
#include "zorvik/runtime/streams_abi.h"

namespace zorvik::rt {

class random_access_stream final : public implements<random_access_stream, ABI::Windows::Storage::Streams::IRandomAccessStream,
                                                     ABI::Windows::Storage::Streams::IInputStream,
                                                     ABI::Windows::Storage::Streams::IOutputStream, ABI::Windows::Foundation::IClosable> {
    using IBuffer = ABI::Windows::Storage::Streams::IBuffer;
    using IInputStream = ABI::Windows::Storage::Streams::IInputStream;
    using IOutputStream = ABI::Windows::Storage::Streams::IOutputStream;
    using IRandomAccessStream = ABI::Windows::Storage::Streams::IRandomAccessStream;
    template <typename T>
    using IAsyncOperation = ABI::Windows::Foundation::IAsyncOperation<T>;

public:
    random_access_stream(std::shared_ptr<stream_store> store, std::uint64_t position) noexcept;

    HRESULT GetRuntimeClassName(HSTRING* name) override;

    HRESULT get_Size(std::uint64_t* size) override;
    HRESULT put_Size(std::uint64_t size) override;
    HRESULT GetInputStreamAt(std::uint64_t position, IInputStream** stream) override;
    HRESULT GetOutputStreamAt(std::uint64_t position, IOutputStream** stream) override;
    HRESULT get_Position(std::uint64_t* position) override;
    HRESULT Seek(std::uint64_t position) override;
    HRESULT CloneStream(IRandomAccessStream** stream) override;
    HRESULT get_CanRead(bool* canRead) override;
    HRESULT get_CanWrite(bool* canWrite) override;

    HRESULT ReadAsync(IBuffer* buffer, std::uint32_t count, ABI::Windows::Storage::Streams::InputStreamOptions options,
                      IAsyncOperation<IBuffer*>** operation) override;
    HRESULT WriteAsync(IBuffer* buffer, IAsyncOperation<std::uint32_t>** operation) override;
    HRESULT FlushAsync(IAsyncOperation<bool>** operation) override;

    HRESULT Close() override;

private:
    // The store while open; RO_E_CLOSED once closed.
    std::shared_ptr<stream_store> open_store() const;
    std::shared_ptr<stream_store> writable_store() const;

    const char* const class_name_;
    mutable std::mutex mutex_;
    std::shared_ptr<stream_store> store_;  // null once closed
    std::uint64_t position_;               // touched only through the store's queue
};

}  // namespace zorvik::rt
