#include "storage_file.h"

#include <fcntl.h>

#include "file_stream.h"

namespace zorvik::rt {

using ABI::Windows::Storage::FileAccessMode;
using ABI::Windows::Storage::Streams::IRandomAccessStream;

storage_file::storage_file(std::shared_ptr<const unique_fd> directory, const std::wstring& folder_path, std::wstring name)
    : directory_(std::move(directory)), name_(std::move(name)), path_(folder_path + L"/" + name_) {}

HRESULT storage_file::OpenAsync(std::int32_t accessMode, ABI::Windows::Foundation::IAsyncOperation<IRandomAccessStream*>** operation) {
    if (operation) *operation = nullptr;
    return boundary([&] {
        check_pointer(operation);
        const auto mode = static_cast<FileAccessMode>(accessMode);
        if (mode != FileAccessMode::Read && mode != FileAccessMode::ReadWrite) throw invalid_argument_error("unknown file access mode");
        *operation = run_async<IRandomAccessStream*>([directory = directory_, name = to_utf8(name_), mode] {
                         return open_file_stream_at(directory->get(), name, mode, O_NOFOLLOW, 0600);
                     }).detach();
    });
}

HRESULT storage_file::get_Name(HSTRING* name) {
    if (name) *name = nullptr;
    return boundary([&] {
        check_pointer(name);
        *name = hstring(name_).detach();
    });
}

HRESULT storage_file::get_Path(HSTRING* path) {
    if (path) *path = nullptr;
    return boundary([&] {
        check_pointer(path);
        *path = hstring(path_).detach();
    });
}

}  // namespace zorvik::rt
