// Buffers and streams: the platform's ABI. The asynchronous stream members report no progress,
// so they return plain asynchronous operations.
#pragma once

#include "zorvik/runtime/async_abi.h"

namespace ABI::Windows::Storage::Streams {

using ABI::Windows::Foundation::IAsyncOperation;

struct IBuffer : IInspectable {
    static constexpr GUID iid{0x905A0FE0, 0xBC53, 0x11DF, {0x8C, 0x49, 0x00, 0x1E, 0x4F, 0xC6, 0x86, 0xDA}};
    static constexpr const char* name = "Windows.Storage.Streams.IBuffer";
    virtual HRESULT get_Capacity(std::uint32_t* capacity) = 0;
    virtual HRESULT get_Length(std::uint32_t* length) = 0;
    virtual HRESULT put_Length(std::uint32_t length) = 0;
};

// The bytes behind an IBuffer.
struct IBufferByteAccess : IUnknown {
    static constexpr GUID iid{0x905A0FEF, 0xBC53, 0x11DF, {0x8C, 0x49, 0x00, 0x1E, 0x4F, 0xC6, 0x86, 0xDA}};
    virtual HRESULT Buffer(std::uint8_t** value) = 0;
};

enum class InputStreamOptions : std::uint32_t { None = 0, Partial = 1, ReadAhead = 2 };

struct IInputStream : IInspectable {
    static constexpr GUID iid{0x905A0FE2, 0xBC53, 0x11DF, {0x8C, 0x49, 0x00, 0x1E, 0x4F, 0xC6, 0x86, 0xDA}};
    static constexpr const char* name = "Windows.Storage.Streams.IInputStream";
    // Reads up to count bytes into buffer (or a buffer of its own); the result's Length is the
    // number read, 0 at the end of the stream.
    virtual HRESULT ReadAsync(IBuffer* buffer, std::uint32_t count, InputStreamOptions options, IAsyncOperation<IBuffer*>** operation) = 0;
};

struct IOutputStream : IInspectable {
    static constexpr GUID iid{0x905A0FE6, 0xBC53, 0x11DF, {0x8C, 0x49, 0x00, 0x1E, 0x4F, 0xC6, 0x86, 0xDA}};
    static constexpr const char* name = "Windows.Storage.Streams.IOutputStream";
    virtual HRESULT WriteAsync(IBuffer* buffer, IAsyncOperation<std::uint32_t>** operation) = 0;
    virtual HRESULT FlushAsync(IAsyncOperation<bool>** operation) = 0;
};

// Also implements IInputStream, IOutputStream and IClosable.
struct IRandomAccessStream : IInspectable {
    static constexpr GUID iid{0x905A0FE1, 0xBC53, 0x11DF, {0x8C, 0x49, 0x00, 0x1E, 0x4F, 0xC6, 0x86, 0xDA}};
    static constexpr const char* name = "Windows.Storage.Streams.IRandomAccessStream";
    virtual HRESULT get_Size(std::uint64_t* size) = 0;
    virtual HRESULT put_Size(std::uint64_t size) = 0;
    virtual HRESULT GetInputStreamAt(std::uint64_t position, IInputStream** stream) = 0;
    virtual HRESULT GetOutputStreamAt(std::uint64_t position, IOutputStream** stream) = 0;
    virtual HRESULT get_Position(std::uint64_t* position) = 0;
    virtual HRESULT Seek(std::uint64_t position) = 0;
    virtual HRESULT CloneStream(IRandomAccessStream** stream) = 0;
    virtual HRESULT get_CanRead(bool* canRead) = 0;
    virtual HRESULT get_CanWrite(bool* canWrite) = 0;
};

// A writer that gathers bytes into a buffer (no underlying stream needed).
struct IDataWriter : IInspectable {
    static constexpr GUID iid{0x64B89265, 0xD341, 0x4922, {0xB3, 0x8A, 0xDD, 0x4A, 0xF8, 0x80, 0x8C, 0x4E}};
    static constexpr const char* name = "Windows.Storage.Streams.IDataWriter";
    virtual HRESULT get_UnstoredBufferLength(std::uint32_t* length) = 0;
    virtual HRESULT WriteByte(std::uint8_t value) = 0;
    virtual HRESULT WriteBytes(std::uint32_t count, const std::uint8_t* bytes) = 0;
    virtual HRESULT WriteBuffer(IBuffer* buffer) = 0;
    virtual HRESULT StoreAsync(IAsyncOperation<std::uint32_t>** operation) = 0;
    virtual HRESULT FlushAsync(IAsyncOperation<bool>** operation) = 0;
    virtual HRESULT DetachBuffer(IBuffer** buffer) = 0;
    virtual HRESULT DetachStream(IOutputStream** stream) = 0;
};

}  // namespace ABI::Windows::Storage::Streams

namespace ABI::Windows::Storage {

using ABI::Windows::Foundation::IAsyncOperation;

struct IStorageItem : IInspectable {
    static constexpr GUID iid{0x4207A996, 0xCA2F, 0x42F7, {0xBD, 0xE8, 0x8B, 0x10, 0x45, 0x7A, 0x7F, 0x30}};
    static constexpr const char* name = "Windows.Storage.IStorageItem";
    virtual HRESULT get_Name(HSTRING* name) = 0;
    virtual HRESULT get_Path(HSTRING* path) = 0;
};

struct IStorageFile : IInspectable {
    static constexpr GUID iid{0xFA3F6186, 0x4214, 0x428C, {0xA6, 0x4C, 0x14, 0xC9, 0xAC, 0x73, 0x15, 0xEA}};
    static constexpr const char* name = "Windows.Storage.IStorageFile";
    virtual HRESULT OpenAsync(std::int32_t accessMode, IAsyncOperation<Streams::IRandomAccessStream*>** operation) = 0;
};

enum class CreationCollisionOption : std::int32_t { GenerateUniqueName = 0, ReplaceExisting = 1, FailIfExists = 2, OpenIfExists = 3 };

struct IStorageFolder : IInspectable {
    static constexpr GUID iid{0x72D1CB78, 0xB3EF, 0x4F75, {0xA8, 0x0B, 0x6F, 0xD9, 0xDA, 0xE2, 0x94, 0x4B}};
    static constexpr const char* name = "Windows.Storage.IStorageFolder";
    virtual HRESULT CreateFileAsync(HSTRING desiredName, CreationCollisionOption options, IAsyncOperation<IStorageFile*>** operation) = 0;
};

struct IApplicationData : IInspectable {
    static constexpr GUID iid{0xC3DA6FB7, 0xB744, 0x4B45, {0xB0, 0xB8, 0x22, 0x3A, 0x09, 0x38, 0xD0, 0xDC}};
    static constexpr const char* name = "Windows.Storage.IApplicationData";
    virtual HRESULT get_TemporaryFolder(IStorageFolder** folder) = 0;
};

}  // namespace ABI::Windows::Storage
