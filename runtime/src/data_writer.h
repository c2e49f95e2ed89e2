// DataWriter without an underlying stream: it gathers bytes and hands them out as a buffer.
#pragma once

#include <mutex>

#include "buffer.h"

namespace zorvik::rt {

class data_writer final : public implements<data_writer, ABI::Windows::Storage::Streams::IDataWriter, ABI::Windows::Foundation::IClosable> {
    using IBuffer = ABI::Windows::Storage::Streams::IBuffer;
    template <typename T>
    using IAsyncOperation = ABI::Windows::Foundation::IAsyncOperation<T>;

public:
    static constexpr const char* runtime_class_name = "Windows.Storage.Streams.DataWriter";

    HRESULT get_UnstoredBufferLength(std::uint32_t* length) override;
    HRESULT WriteByte(std::uint8_t value) override;
    HRESULT WriteBytes(std::uint32_t count, const std::uint8_t* bytes) override;
    HRESULT WriteBuffer(IBuffer* buffer) override;
    // Without a stream there is nothing to store to: E_ILLEGAL_METHOD_CALL.
    HRESULT StoreAsync(IAsyncOperation<std::uint32_t>** operation) override;
    HRESULT FlushAsync(IAsyncOperation<bool>** operation) override;
    HRESULT DetachStream(ABI::Windows::Storage::Streams::IOutputStream** stream) override;
    // Hands out the gathered bytes, without copying them, and starts afresh.
    HRESULT DetachBuffer(IBuffer** buffer) override;

    HRESULT Close() override;

private:
    // The caller holds mutex_.
    void check_open() const;
    void append(const std::uint8_t* bytes, std::uint32_t count);

    mutable std::mutex mutex_;
    byte_block bytes_;
    std::uint32_t capacity_ = 0;
    std::uint32_t length_ = 0;
    bool closed_ = false;
};

}  // namespace zorvik::rt
