// Opens an archive and builds its item tree through the component's public ABI, as an
// application would: bench_tree <archive>. Prints the number of files and folders found.
#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "Zorvik/Archive.h"
#include "Zorvik/ArchiveSource.h"
#include "Zorvik/Items.h"
#include "zorvik/runtime/async.h"
#include "zorvik/runtime/collections.h"
#include "zorvik/runtime/storage.h"

using zorvik::rt::com_ptr;

namespace {

com_ptr<Zorvik::IArchive> ActivateArchive() {
    void* module = dlopen(ZORVIK_COMPONENT_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!module) throw std::runtime_error(dlerror());
    auto getFactory = reinterpret_cast<HRESULT (*)(HSTRING, IActivationFactory**)>(dlsym(module, "DllGetActivationFactory"));
    if (!getFactory) throw std::runtime_error("the component has no DllGetActivationFactory");
    com_ptr<IActivationFactory> factory;
    zorvik::rt::check_hresult(getFactory(zorvik::rt::hstring(L"Zorvik.Archive").get(), factory.put()));
    com_ptr<IInspectable> instance;
    zorvik::rt::check_hresult(factory->ActivateInstance(instance.put()));
    return instance.as<Zorvik::IArchive>();
}

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
        const std::filesystem::path path = std::filesystem::absolute(argv[1]);
        const std::wstring extension = path.extension().wstring();
        auto source = zorvik::rt::make<Zorvik::archive_source>(extension.empty() ? extension : extension.substr(1), path.filename().wstring(),
                                                               path.wstring());
        auto stream = zorvik::rt::open_file_stream(path.wstring(), ABI::Windows::Storage::FileAccessMode::Read);
        auto archive = ActivateArchive();

        com_ptr<ABI::Windows::Foundation::IAsyncOperation<bool>> opening;
        zorvik::rt::check_hresult(archive->OpenAsync(stream.get(), source.get(), opening.put()));
        if (!zorvik::rt::get(opening)) {
            std::fprintf(stderr, "bench_tree: %s is not an archive the component opens\n", argv[1]);
            return 1;
        }
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
    }
}
