// Opening an archive through the component's public ABI, as an application would; shared by
// the benchmark drivers.
#pragma once

#include <dlfcn.h>

#include <filesystem>
#include <stdexcept>

#include "zorvik/Archive.h"
#include "zorvik/ArchiveSource.h"
#include "zorvik/runtime/async.h"
#include "zorvik/runtime/streams.h"

namespace bench {

inline zorvik::rt::com_ptr<Zorvik::IArchive> ActivateArchive() {
    void* module = dlopen(ZORVIK_COMPONENT_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!module) throw std::runtime_error(dlerror());
    auto getFactory = reinterpret_cast<HRESULT (*)(HSTRING, IActivationFactory**)>(dlsym(module, "DllGetActivationFactory"));
    if (!getFactory) throw std::runtime_error("the component has no DllGetActivationFactory");
    zorvik::rt::com_ptr<IActivationFactory> factory;
    zorvik::rt::check_hresult(getFactory(zorvik::rt::hstring(L"Zorvik.Archive").get(), factory.put()));
    zorvik::rt::com_ptr<IInspectable> instance;
    zorvik::rt::check_hresult(factory->ActivateInstance(instance.put()));
    return instance.as<Zorvik::IArchive>();
}

// The archive at path, opened; throws when no format opens it.
inline zorvik::rt::com_ptr<Zorvik::IArchive> OpenArchive(const std::filesystem::path& path) {
    const std::filesystem::path absolute = std::filesystem::absolute(path);
    const std::wstring extension = absolute.extension().wstring();
    auto source = zorvik::rt::make<Zorvik::archive_source>(extension.empty() ? extension : extension.substr(1),
                                                           absolute.filename().wstring(), absolute.wstring());
    auto stream = zorvik::rt::open_file_stream(absolute.wstring(), ABI::Windows::Storage::FileAccessMode::Read);
    auto archive = ActivateArchive();
    zorvik::rt::com_ptr<ABI::Windows::Foundation::IAsyncOperation<bool>> opening;
    zorvik::rt::check_hresult(archive->OpenAsync(stream.get(), source.get(), opening.put()));
    if (!zorvik::rt::get(opening)) throw std::runtime_error(path.string() + " is not an archive the component opens");
    return archive;
}

}  // namespace bench
