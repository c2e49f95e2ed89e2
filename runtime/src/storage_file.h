// A file in a storage folder.
#pragma once

#include <memory>
#include <string>

#include "zorvik/runtime/unique_fd.h"
#include "zorvik/runtime/implements.h"
#include "zorvik/runtime/streams_abi.h"

namespace zorvik::rt {

class storage_file final : public implements<storage_file, ABI::Windows::Storage::IStorageFile, ABI::Windows::Storage::IStorageItem> {
public:
    static constexpr const char* runtime_class_name = "Windows.Storage.StorageFile";

    // name is a plain file name inside the folder open as directory, whose path is folder_path.
    storage_file(std::shared_ptr<const unique_fd> directory, const std::wstring& folder_path, std::wstring name);

    // Opens the file (never a symbolic link) as a random-access stream; accessMode is a
    // FileAccessMode.
    HRESULT OpenAsync(std::int32_t accessMode,
                      ABI::Windows::Foundation::IAsyncOperation<ABI::Windows::Storage::Streams::IRandomAccessStream*>** operation) override;
    HRESULT get_Name(HSTRING* name) override;
    HRESULT get_Path(HSTRING* path) override;

private:
    const std::shared_ptr<const unique_fd> directory_;
    const std::wstring name_;
    const std::wstring path_;
};

}  // namespace zorvik::rt
