// The application's storage: its private temporary folder and the files created in it.
//
// TemporaryFolder is $ZORVIK_TEMP if set, else "zorvik-<uid>" under $TMPDIR (if absolute) or
// /tmp. It is created with mode 0700; an existing one that is a symbolic link, not a folder,
// owned by another user or open to others fails with E_ACCESSDENIED.
// CreateFileAsync refuses names that are empty, ".", "..", or hold '/', '\' or NUL
// (E_INVALIDARG); GenerateUniqueName names clashes "7zt.tmp", "7zt (2).tmp", "7zt (3).tmp", ...;
// FailIfExists fails with HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS). IStorageFile::OpenAsync
// takes a FileAccessMode and gives a file stream.
#pragma once

#include "zorvik/runtime/streams.h"

ZORVIK_RUNTIME_API HRESULT GetApplicationData(ABI::Windows::Storage::IApplicationData** data) ZORVIK_RUNTIME_SYMBOL(GetApplicationData);

namespace zorvik::rt {

inline com_ptr<ABI::Windows::Storage::IStorageFolder> temporary_folder() {
    com_ptr<ABI::Windows::Storage::IApplicationData> data;
    check_hresult(GetApplicationData(data.put()));
    com_ptr<ABI::Windows::Storage::IStorageFolder> folder;
    check_hresult(data->get_TemporaryFolder(folder.put()));
    return folder;
}

inline com_ptr<ABI::Windows::Storage::IStorageFile> create_file(ABI::Windows::Storage::IStorageFolder* folder, std::wstring_view name,
                                                                ABI::Windows::Storage::CreationCollisionOption option) {
    com_ptr<ABI::Windows::Foundation::IAsyncOperation<ABI::Windows::Storage::IStorageFile*>> creation;
    check_hresult(folder->CreateFileAsync(hstring(name).get(), option, creation.put()));
    return get(creation);
}

inline com_ptr<ABI::Windows::Storage::Streams::IRandomAccessStream> open_stream(ABI::Windows::Storage::IStorageFile* file,
                                                                                ABI::Windows::Storage::FileAccessMode mode) {
    com_ptr<ABI::Windows::Foundation::IAsyncOperation<ABI::Windows::Storage::Streams::IRandomAccessStream*>> opening;
    check_hresult(file->OpenAsync(static_cast<std::int32_t>(mode), opening.put()));
    return get(opening);
}

// Name and full path of a file or folder.
template <typename Item>
hstring item_name(const com_ptr<Item>& item) {
    hstring name;
    check_hresult(item.template as<ABI::Windows::Storage::IStorageItem>()->get_Name(name.put()));
    return name;
}
template <typename Item>
hstring item_path(const com_ptr<Item>& item) {
    hstring path;
    check_hresult(item.template as<ABI::Windows::Storage::IStorageItem>()->get_Path(path.put()));
    return path;
}

}  // namespace zorvik::rt
