// Lists an archive: every entry's size and path, folders ending in "/".
//   list-archive ARCHIVE
#include <cstdio>
#include <filesystem>

#include "zorvik/Activation.h"
#include "zorvik/ArchiveSource.h"
#include "zorvik/Items.h"
#include "zorvik/runtime/async.h"
#include "zorvik/runtime/collections.h"
#include "zorvik/runtime/streams.h"

using namespace Zorvik;
using zorvik::rt::com_ptr;

void List(IArchiveFolder* folder, const std::wstring& prefix) {
    com_ptr<IObservableVector<IArchiveItem*>> items;
    zorvik::rt::check_hresult(folder->get_Items(items.put()));
    for (const com_ptr<IArchiveItem>& item : zorvik::rt::iterate(items.get())) {
        zorvik::rt::hstring name;
        zorvik::rt::check_hresult(item->get_Name(name.put()));
        const std::wstring path = prefix + std::wstring(name.view());
        if (const auto subfolder = item.try_as<IArchiveFolder>()) {
            std::printf("%12s  %ls/\n", "", path.c_str());
            List(subfolder.get(), path + L"/");
            continue;
        }
        std::uint64_t size = 0;
        if (com_ptr<IArchiveEntryProperties> properties; SUCCEEDED(item->get_Properties(properties.put())) && properties)
            zorvik::rt::check_hresult(properties.as<IFileSystemProperties>()->get_Size(&size));
        std::printf("%12llu  %ls\n", static_cast<unsigned long long>(size), path.c_str());
    }
}

int main(int argc, char** argv) try {
    if (argc != 2) return std::fprintf(stderr, "usage: list-archive ARCHIVE\n"), 2;
    const std::wstring path = std::filesystem::absolute(argv[1]).wstring();
    auto stream = zorvik::rt::open_file_stream(path, ABI::Windows::Storage::FileAccessMode::Read);
    auto archive = ActivateInstance<IArchive>(L"Zorvik.Archive");
    com_ptr<IAsyncOperation<bool>> opening;
    zorvik::rt::check_hresult(archive->OpenAsync(stream.get(), make_archive_source(path).get(), opening.put()));
    if (!zorvik::rt::get(opening)) return std::fprintf(stderr, "%s: not an archive\n", argv[1]), 1;
    com_ptr<IAsyncOperation<IArchiveFolder*>> building;
    zorvik::rt::check_hresult(archive->GetRootFolderAsync(nullptr, building.put()));
    List(zorvik::rt::get(building).get(), L"");
    return 0;
} catch (const zorvik::rt::hresult_error& error) {
    std::fprintf(stderr, "%s: %s (0x%08x)\n", argv[1], error.what(), static_cast<unsigned>(error.code()));
    return 1;
}
