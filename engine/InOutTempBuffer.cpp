#include "engine/InOutTempBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "zorvik/runtime/async.h"
#include "zorvik/runtime/storage.h"

namespace Zorvik::Engine {

namespace {

constexpr wchar_t kSpillFileName[] = L"7zt.tmp";
// The largest block handed to one engine stream Write.
constexpr std::uint32_t kMaxStreamWrite = 0x80000000u;

HRESULT WriteBlock(ISequentialOutStream* stream, const std::uint8_t* data, std::uint64_t size) {
    while (size > 0) {
        const auto chunk = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, kMaxStreamWrite));
        std::uint32_t written = 0;
        if (const HRESULT hr = stream->Write(data, chunk, &written); hr != S_OK) return hr;
        if (written == 0) return E_FAIL;
        data += written;
        size -= written;
    }
    return S_OK;
}

// A path in the application's temporary folder for a new spill file.
std::wstring NewSpillFilePath() {
    using ABI::Windows::Storage::CreationCollisionOption;
    const auto file =
        zorvik::rt::create_file(zorvik::rt::temporary_folder().get(), kSpillFileName, CreationCollisionOption::GenerateUniqueName);
    return std::wstring(zorvik::rt::item_path(file).view());
}

}  // namespace

InOutTempBuffer::TempFileRecord::~TempFileRecord() { DeleteFileW(Path.c_str()); }

InOutTempBuffer::~InOutTempBuffer() {
    Buffer.reset();
    CloseFileHandle();
    TempFile.reset();
}

void InOutTempBuffer::CloseFileHandle() noexcept {
    if (FileHandle != INVALID_HANDLE_VALUE) CloseHandle(FileHandle);
    FileHandle = INVALID_HANDLE_VALUE;
}

void InOutTempBuffer::Create() {
    // Without memory every byte goes to the spill file; nothing may be thrown at the engine.
    if (!Buffer) Buffer.reset(new (std::nothrow) std::uint8_t[kBufferSize]);
}

void InOutTempBuffer::InitWriting() {
    BufferUsed = 0;
    TempFileCreated = false;
    Size = 0;
}

void InOutTempBuffer::CreateSpillFile() {
    auto record = std::make_unique<TempFileRecord>();
    record->Path = NewSpillFilePath();
    TempFile = std::move(record);  // deletes the previous spill file
    CREATEFILE2_EXTENDED_PARAMETERS parameters{};
    parameters.dwSize = sizeof(parameters);
    parameters.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    parameters.dwFileFlags = FILE_FLAG_SEQUENTIAL_SCAN;
    const HANDLE handle = CreateFile2(TempFile->Path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, &parameters);
    if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("invalid handle");
    CloseFileHandle();
    FileHandle = handle;
    TempFileCreated = true;
}

bool InOutTempBuffer::Write(const void* data, std::uint32_t size) {
    auto bytes = static_cast<const std::uint8_t*>(data);
    if (Buffer && BufferUsed < kBufferSize) {
        const std::uint32_t n = std::min(size, kBufferSize - BufferUsed);
        std::memcpy(Buffer.get() + BufferUsed, bytes, n);
        BufferUsed += n;
        Size += n;
        bytes += n;
        size -= n;
    }
    if (size == 0) return true;
    if (!TempFileCreated) {
        try {
            CreateSpillFile();
        } catch (...) {
            return false;  // TempFileCreated stays false: the next Write tries again
        }
    }
    DWORD written = 0;
    if (!WriteFile(FileHandle, bytes, size, &written, nullptr)) return false;
    Size += written;
    return written == size;
}

HRESULT InOutTempBuffer::WriteToStream(ISequentialOutStream* stream) {
    CloseFileHandle();
    Create();
    if (!Buffer) return E_OUTOFMEMORY;
    std::uint64_t copied = 0;
    if (BufferUsed > 0) {
        if (const HRESULT hr = WriteBlock(stream, Buffer.get(), BufferUsed); hr != S_OK) return hr;
        copied += BufferUsed;
    }
    if (TempFileCreated) {
        try {
            CREATEFILE2_EXTENDED_PARAMETERS parameters{};
            parameters.dwSize = sizeof(parameters);
            parameters.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
            parameters.dwFileFlags = FILE_FLAG_SEQUENTIAL_SCAN;
            const HANDLE file = CreateFile2(TempFile->Path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, &parameters);
            if (file == INVALID_HANDLE_VALUE) return E_FAIL;
            HRESULT result = S_OK;
            while (copied < Size) {
                DWORD read = 0;
                if (!ReadFile(file, Buffer.get(), kBufferSize, &read, nullptr)) {
                    result = E_FAIL;
                    break;
                }
                if (read == 0) break;
                if (result = WriteBlock(stream, Buffer.get(), read); result != S_OK) break;
                copied += read;
            }
            CloseHandle(file);
            if (result != S_OK) return result;
        } catch (...) {
            return E_FAIL;
        }
    }
    return copied == Size ? S_OK : E_FAIL;
}

std::shared_ptr<IWSInOutTempBuffer> WSHelperObjectsFactory::CreateInOutTempBuffer() { return std::make_shared<InOutTempBuffer>(); }

WSHelperObjectsFactory& WSHelperObjectsFactory::Instance() noexcept {
    static WSHelperObjectsFactory instance;
    return instance;
}

}  // namespace Zorvik::Engine
