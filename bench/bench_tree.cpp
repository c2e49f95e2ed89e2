// Opens an archive and builds its item tree through the component's public ABI, as an
// application would: bench_tree <archive>. Prints the number of files and folders found.
#include <cstdio>

#include "BenchArchive.h"
#include "zorvik/Items.h"
#include "zorvik/runtime/collections.h"

using zorvik::rt::com_ptr;

namespace {

// Folders below folder, counted through the public members only.
std::uint64_t CountFolders(Zorvik::IArchiveFolder* folder) {
    com_ptr<Zorvik::IVector<Zorvik::IArchiveFolder*>> folders;
    zorvik::rt::check_hresult(folder->get_Folders(folders.put()));
    std::uint64_t count = 0;
    for (const auto& sub : zorvik::rt::to_std_vector(folders.get())) count += 1 + CountFolders(sub.get());
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_tree <archive>\n");
        return 2;
    }
    try {
        const auto archive = bench::OpenArchive(argv[1]);
        com_ptr<ABI::Windows::Foundation::IAsyncOperation<Zorvik::IArchiveFolder*>> building;
        zorvik::rt::check_hresult(archive->GetRootFolderAsync(nullptr, building.put()));
        const auto root = zorvik::rt::get(building);

        std::uint64_t files = 0;
        zorvik::rt::check_hresult(archive->get_FileCount(&files));
        std::printf("%llu files, %llu folders\n", static_cast<unsigned long long>(files),
                    static_cast<unsigned long long>(CountFolders(root.get())));
        return 0;
    } catch (const zorvik::rt::hresult_error& error) {
        std::fprintf(stderr, "bench_tree: failed with 0x%08X\n", static_cast<unsigned>(error.code()));
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_tree: %s\n", error.what());
        return 1;
    }
}
