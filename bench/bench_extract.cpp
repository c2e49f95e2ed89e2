// Opens an archive and extracts every entry to files below a folder through the component's
// public ABI, as an application would: bench_extract <archive> <folder>. Exits 1 if any entry
// failed.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>

#include "BenchArchive.h"
#include "zorvik/ExtractionCallback.h"
#include "zorvik/Items.h"

using zorvik::rt::com_ptr;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_extract <archive> <folder>\n");
        return 2;
    }
    try {
        const auto archive = bench::OpenArchive(argv[1]);
        com_ptr<ABI::Windows::Foundation::IAsyncOperation<Zorvik::IArchiveFolder*>> building;
        zorvik::rt::check_hresult(archive->GetRootFolderAsync(nullptr, building.put()));
        const auto root = zorvik::rt::get(building).as<Zorvik::IArchiveItem>();

        const std::filesystem::path folder = argv[2];
        // The component names destinations relative to the chosen folder, separated by '/'.
        const auto destination = [&](std::wstring_view path) { return folder / zorvik::rt::to_utf8(path); };
        std::atomic<unsigned> failures = 0;
        auto callback = Zorvik::make_extraction_callback({
            .get_file_stream =
                [&](Zorvik::IArchiveItem*, std::wstring_view path) {
                    const std::filesystem::path file = destination(path);
                    std::filesystem::create_directories(file.parent_path());
                    return Zorvik::file_stream_answer::into(
                        zorvik::rt::open_file_stream(file.wstring(), ABI::Windows::Storage::FileAccessMode::ReadWrite,
                                                     ABI::Windows::Storage::FileCreationDisposition::CreateAlways));
                },
            .create_folder = [&](Zorvik::IArchiveItem*, std::wstring_view path) { std::filesystem::create_directories(destination(path)); },
            .item_failed =
                [&](Zorvik::IArchiveItem*, std::int32_t) {
                    ++failures;
                    return Zorvik::ExtractionAnswer::Continue;
                },
        });
        Zorvik::IArchiveItem* items[] = {root.get()};
        com_ptr<ABI::Windows::Foundation::IAsyncOperation<bool>> extracting;
        zorvik::rt::check_hresult(archive->ExtractAsync(1, items, callback.get(), extracting.put()));
        if (!zorvik::rt::get(extracting) || failures != 0) {
            std::fprintf(stderr, "bench_extract: %u entries failed\n", failures.load());
            return 1;
        }
        return 0;
    } catch (const zorvik::rt::hresult_error& error) {
        std::fprintf(stderr, "bench_extract: failed with 0x%08X\n", static_cast<unsigned>(error.code()));
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_extract: %s\n", error.what());
        return 1;
    }
}
