// Extracts every entry of an archive into a folder, refusing names that would lead out of it.
//   extract-archive ARCHIVE FOLDER
#include <cstdio>
#include <filesystem>
#include <vector>

#include "zorvik/Activation.h"
#include "zorvik/ArchiveSource.h"
#include "zorvik/Items.h"
#include "zorvik/ExtractionCallback.h"
#include "zorvik/runtime/async.h"
#include "zorvik/runtime/collections.h"
#include "zorvik/runtime/streams.h"

using namespace Zorvik;
using zorvik::rt::com_ptr;
namespace fs = std::filesystem;

// The place of an entry's path (components joined with "/") inside folder, with the bytes the
// name had; empty when the path would lead out of it.
fs::path PlaceOf(const fs::path& folder, std::wstring_view path) {
    const fs::path place = fs::path(zorvik::rt::to_utf8(path)).lexically_normal();
    if (place.empty() || place.is_absolute() || *place.begin() == "..") return {};
    return folder / place;
}

int main(int argc, char** argv) try {
    if (argc != 3) return std::fprintf(stderr, "usage: extract-archive ARCHIVE FOLDER\n"), 2;
    const std::wstring path = fs::absolute(argv[1]).wstring();
    const fs::path folder = fs::absolute(argv[2]);
    auto stream = zorvik::rt::open_file_stream(path, ABI::Windows::Storage::FileAccessMode::Read);
    auto archive = ActivateInstance<IArchive>(L"Zorvik.Archive");
    com_ptr<IAsyncOperation<bool>> opening;
    zorvik::rt::check_hresult(archive->OpenAsync(stream.get(), make_archive_source(path).get(), opening.put()));
    if (!zorvik::rt::get(opening)) return std::fprintf(stderr, "%s: not an archive\n", argv[1]), 1;
    com_ptr<IAsyncOperation<IArchiveFolder*>> building;
    zorvik::rt::check_hresult(archive->GetRootFolderAsync(nullptr, building.put()));
    com_ptr<IObservableVector<IArchiveItem*>> children;
    zorvik::rt::check_hresult(zorvik::rt::get(building)->get_Items(children.put()));
    std::vector<com_ptr<IArchiveItem>> items;
    for (auto item : zorvik::rt::iterate(children.get())) items.push_back(item);
    std::vector<IArchiveItem*> chosen;
    for (const auto& item : items) chosen.push_back(item.get());

    int files = 0, failures = 0;
    auto callback = make_extraction_callback({
        .get_file_stream =
            [&](IArchiveItem*, std::wstring_view entry) {
                const fs::path place = PlaceOf(folder, entry);
                if (place.empty()) return ++failures, file_stream_answer::skipped();
                fs::create_directories(place.parent_path());
                return file_stream_answer::into(zorvik::rt::open_file_stream(place.wstring(),
                                                                             ABI::Windows::Storage::FileAccessMode::ReadWrite,
                                                                             ABI::Windows::Storage::FileCreationDisposition::CreateNew));
            },
        .create_folder =
            [&](IArchiveItem*, std::wstring_view entry) {
                if (const fs::path place = PlaceOf(folder, entry); !place.empty()) fs::create_directories(place);
            },
        .item_completed =
            [&](IArchiveItem* item, bool succeeded) {
                if (!com_ptr<IArchiveItem>::copy_from(item).try_as<IArchiveFile>()) return;  // a folder
                succeeded ? ++files : ++failures;
            },
    });
    com_ptr<IAsyncOperation<bool>> extracting;
    zorvik::rt::check_hresult(
        archive->ExtractAsync(static_cast<std::uint32_t>(chosen.size()), chosen.data(), callback.get(), extracting.put()));
    zorvik::rt::get(extracting);
    std::printf("%d files extracted into %s, %d failed\n", files, folder.c_str(), failures);
    return failures == 0 ? 0 : 1;
} catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", argv[1], error.what());
    return 1;
}
