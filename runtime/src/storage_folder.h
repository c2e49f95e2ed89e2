// A folder that files are created in, held open so that a renamed or replaced path cannot
// redirect them.
#pragma once

#include <memory>
#include <string>

#include "zorvik/runtime/unique_fd.h"
#include "zorvik/runtime/implements.h"
#include "zorvik/runtime/streams_abi.h"

namespace zorvik::rt {

class storage_folder final : public implements<storage_folder, ABI::Windows::Storage::IStorageFolder, ABI::Windows::Storage::IStorageItem> {
public:
    static constexpr const char* runtime_class_name = "Windows.Storage.StorageFolder";

    // path is the folder's full path without a trailing '/'.
    storage_folder(unique_fd directory, std::wstring path);

    HRESULT CreateFileAsync(HSTRING desiredName, ABI::Windows::Storage::CreationCollisionOption options,
                            ABI::Windows::Foundation::IAsyncOperation<ABI::Windows::Storage::IStorageFile*>** operation) override;
    HRESULT get_Name(HSTRING* name) override;
    HRESULT get_Path(HSTRING* path) override;

private:
    const std::shared_ptr<const unique_fd> directory_;
    const std::wstring path_;
};

}  // namespace zorvik::rt
