// Buffers, random-access streams over files and memory, and the data writer.
//
// Stream operations on one stream, its clones and the streams of GetInputStreamAt and
// GetOutputStreamAt are applied one at a time, in the order they were issued; each runs on the
// thread pool. Position, Size and Seek take effect after every operation issued before them.
// A buffer handed to ReadAsync or WriteAsync must stay untouched until the operation ends.
#pragma once

#include "zorvik/runtime/activation.h"
#include "zorvik/runtime/async.h"
#include "zorvik/runtime/streams_abi.h"

namespace ABI::Windows::Storage {

enum class FileAccessMode : std::int32_t { Read = 0, ReadWrite = 1 };

// What to do when the file exists or is missing; the values are Win32's.
enum class FileCreationDisposition : std::uint32_t {
    CreateNew = 1,         // fails with HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) if it exists
    CreateAlways = 2,      // creates, or truncates what exists
    OpenExisting = 3,      // fails with HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) if missing
    OpenAlways = 4,        // opens, or creates what is missing
    TruncateExisting = 5,  // truncates; fails if missing
};

}  // namespace ABI::Windows::Storage

// A buffer of the given capacity, length 0.
ZORVIK_RUNTIME_API HRESULT CreateBuffer(std::uint32_t capacity, ABI::Windows::Storage::Streams::IBuffer** buffer)
    ZORVIK_RUNTIME_SYMBOL(CreateBuffer);

// A random-access stream over an existing regular file (path in UTF-32 wchar_t).
ZORVIK_RUNTIME_API HRESULT CreateRandomAccessStreamOnFile(const wchar_t* path, ABI::Windows::Storage::FileAccessMode mode, REFIID iid,
                                                          void** stream) ZORVIK_RUNTIME_SYMBOL(CreateRandomAccessStreamOnFile);
// The same with a creation disposition; any but OpenExisting needs FileAccessMode::ReadWrite.
// New files get mode 0666 less the umask.
ZORVIK_RUNTIME_API HRESULT CreateRandomAccessStreamOnFileEx(const wchar_t* path, ABI::Windows::Storage::FileAccessMode mode,
                                                            ABI::Windows::Storage::FileCreationDisposition disposition, REFIID iid,
                                                            void** stream) ZORVIK_RUNTIME_SYMBOL(CreateRandomAccessStreamOnFileEx);
// A random-access stream over a regular file the caller opened itself (say with openat and
// O_NOFOLLOW). The stream works on its own duplicate of fd; the caller keeps fd. ReadWrite needs
// an fd opened for writing (else E_ACCESSDENIED); anything but a regular file fails the same way.
ZORVIK_RUNTIME_API HRESULT CreateRandomAccessStreamOnFileDescriptor(int fd, ABI::Windows::Storage::FileAccessMode mode, REFIID iid,
                                                                    void** stream)
    ZORVIK_RUNTIME_SYMBOL(CreateRandomAccessStreamOnFileDescriptor);

namespace zorvik::rt {

inline com_ptr<ABI::Windows::Storage::Streams::IBuffer> create_buffer(std::uint32_t capacity) {
    com_ptr<ABI::Windows::Storage::Streams::IBuffer> buffer;
    check_hresult(CreateBuffer(capacity, buffer.put()));
    return buffer;
}

inline std::uint8_t* buffer_data(ABI::Windows::Storage::Streams::IBuffer* buffer) {
    auto access =
        com_ptr<ABI::Windows::Storage::Streams::IBuffer>::copy_from(buffer).as<ABI::Windows::Storage::Streams::IBufferByteAccess>();
    std::uint8_t* bytes = nullptr;
    check_hresult(access->Buffer(&bytes));
    return bytes;
}

inline std::uint32_t buffer_length(ABI::Windows::Storage::Streams::IBuffer* buffer) {
    std::uint32_t length = 0;
    check_hresult(buffer->get_Length(&length));
    return length;
}

inline std::uint32_t buffer_capacity(ABI::Windows::Storage::Streams::IBuffer* buffer) {
    std::uint32_t capacity = 0;
    check_hresult(buffer->get_Capacity(&capacity));
    return capacity;
}

inline com_ptr<ABI::Windows::Storage::Streams::IRandomAccessStream> open_file_stream(
    std::wstring_view path, ABI::Windows::Storage::FileAccessMode mode,
    ABI::Windows::Storage::FileCreationDisposition disposition = ABI::Windows::Storage::FileCreationDisposition::OpenExisting) {
    com_ptr<ABI::Windows::Storage::Streams::IRandomAccessStream> stream;
    check_hresult(CreateRandomAccessStreamOnFileEx(std::wstring(path).c_str(), mode, disposition,
                                                   ABI::Windows::Storage::Streams::IRandomAccessStream::iid, stream.put_void()));
    return stream;
}

inline com_ptr<ABI::Windows::Storage::Streams::IRandomAccessStream> open_file_stream_on(int fd,
                                                                                        ABI::Windows::Storage::FileAccessMode mode) {
    com_ptr<ABI::Windows::Storage::Streams::IRandomAccessStream> stream;
    check_hresult(
        CreateRandomAccessStreamOnFileDescriptor(fd, mode, ABI::Windows::Storage::Streams::IRandomAccessStream::iid, stream.put_void()));
    return stream;
}

inline com_ptr<ABI::Windows::Storage::Streams::IRandomAccessStream> make_in_memory_stream() {
    return activate_instance<ABI::Windows::Storage::Streams::IRandomAccessStream>(L"Windows.Storage.Streams.InMemoryRandomAccessStream");
}

inline com_ptr<ABI::Windows::Storage::Streams::IDataWriter> make_data_writer() {
    return activate_instance<ABI::Windows::Storage::Streams::IDataWriter>(L"Windows.Storage.Streams.DataWriter");
}

}  // namespace zorvik::rt
