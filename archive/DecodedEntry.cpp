#include "archive/DecodedEntry.h"

#include "base/ComponentObject.h"
#include "engine/InputStreamAdapter.h"
#include "zorvik/runtime/storage.h"
#include "zorvik/runtime/win32.h"

namespace Zorvik::Impl {

namespace {

using zorvik::rt::com_ptr;

class FileOutStream final : public ComponentObject<FileOutStream, Engine::ISequentialOutStream> {
public:
    explicit FileOutStream(HANDLE file) : file_(file) {}
    HRESULT Write(const void* data, std::uint32_t size, std::uint32_t* processed) override {
        DWORD written = 0;
        const bool ok = WriteFile(file_, data, size, &written, nullptr);
        if (processed) *processed = written;
        return ok && written == size ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    }

private:
    HANDLE file_;
};

// Extracts one entry into a file and remembers how it went.
class FileExtractCallback final : public ComponentObject<FileExtractCallback, Engine::IArchiveExtractCallback> {
public:
    explicit FileExtractCallback(HANDLE file) : file_(file) {}
    HRESULT SetTotal(std::uint64_t) override { return S_OK; }
    HRESULT SetCompleted(const std::uint64_t*) override { return S_OK; }
    HRESULT GetStream(std::uint32_t, Engine::ISequentialOutStream** stream, std::int32_t askExtractMode) override {
        if (!stream) return E_POINTER;
        *stream = nullptr;
        if (askExtractMode != 0) return S_OK;
        return zorvik::rt::boundary([&] { *stream = zorvik::rt::make<FileOutStream>(file_).detach(); });
    }
    HRESULT PrepareOperation(std::int32_t) override { return S_OK; }
    HRESULT SetOperationResult(std::int32_t result) override {
        result_ = result;
        return S_OK;
    }
    bool Succeeded() const { return result_ == Engine::kOpResultOk; }

private:
    HANDLE file_;
    std::int32_t result_ = -1;
};

}  // namespace

com_ptr<Engine::IInStream> DecodeEntry(Engine::IInArchive* handler, std::uint32_t index) {
    using ABI::Windows::Storage::CreationCollisionOption;
    using ABI::Windows::Storage::FileAccessMode;
    const auto file =
        zorvik::rt::create_file(zorvik::rt::temporary_folder().get(), L"7zt.tmp", CreationCollisionOption::GenerateUniqueName);
    const std::wstring path(zorvik::rt::item_path(file).view());
    struct Removal {
        const std::wstring& path;
        ~Removal() { DeleteFileW(path.c_str()); }
    } removal{path};

    CREATEFILE2_EXTENDED_PARAMETERS parameters{};
    parameters.dwSize = sizeof(parameters);
    parameters.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    parameters.dwFileFlags = FILE_FLAG_SEQUENTIAL_SCAN;
    zorvik::rt::unique_handle output(CreateFile2(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, &parameters));
    if (!output) return nullptr;
    auto callback = zorvik::rt::make<FileExtractCallback>(output.get());
    const HRESULT result = handler->Extract(&index, 1, 0, callback.get());
    output.reset();
    if (result == E_ABORT) throw zorvik::rt::canceled_error();
    if (result != S_OK || !callback->Succeeded()) return nullptr;
    // Open before the file leaves the folder: the open stream keeps its content alive.
    return zorvik::rt::make<InputStreamAdapter>(zorvik::rt::open_file_stream(path, FileAccessMode::Read));
}

}  // namespace Zorvik::Impl
