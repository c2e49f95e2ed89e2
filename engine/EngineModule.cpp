#include "engine/EngineModule.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cwchar>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>

#include "zorvik/runtime/errors.h"
#include "zorvik/runtime/oleauto.h"

namespace Zorvik::Engine {

namespace {

// The engine's place relative to the component's own folder: a private folder of the library
// folder, off the public search path (where CMakeLists.txt installs it).
constexpr char kEngineFileName[] = "zorvik/lib7z.UWP.so";
constexpr char kEnginePathVariable[] = "ZORVIK_ENGINE";
constexpr std::uint32_t kErrorModNotFound = 126;
constexpr std::uint32_t kErrorProcNotFound = 127;

std::string EnginePath() {
    if (const char* path = std::getenv(kEnginePathVariable); path && *path) return path;
    // Never a path relative to the working folder: that would load whatever lies there.
    Dl_info info{};
    const bool located = dladdr(reinterpret_cast<void*>(&EngineModule::Get), &info) && info.dli_fname;
    const std::string self = located ? info.dli_fname : "";
    const auto slash = self.rfind('/');
    if (slash == std::string::npos)
        throw zorvik::rt::hresult_error(HRESULT_FROM_WIN32(kErrorModNotFound), "cannot tell where the component lies; set ZORVIK_ENGINE");
    return self.substr(0, slash + 1) + kEngineFileName;
}

template <typename Function>
Function Export(void* module, const char* name) {
    void* symbol = dlsym(module, name);
    if (!symbol) throw zorvik::rt::hresult_error(HRESULT_FROM_WIN32(kErrorProcNotFound), std::string("engine module lacks ") + name);
    return reinterpret_cast<Function>(symbol);
}

EngineModule Load() {
    const std::string path = EnginePath();
    // Never unloaded: the engine's worker threads and our objects may outlive any owner.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* reason = dlerror();
        throw zorvik::rt::hresult_error(HRESULT_FROM_WIN32(kErrorModNotFound), reason ? reason : path);
    }
    try {
        return EngineModule{Export<CreateObjectFunc>(module, "CreateObject"), Export<GetNumberOfFormatsFunc>(module, "GetNumberOfFormats"),
                            Export<GetHandlerProperty2Func>(module, "GetHandlerProperty2"),
                            Export<HRESULT (*)(IWSHelperObjectsFactory*)>(module, "Init7zipLibForWS"),
                            reinterpret_cast<HRESULT (*)(PROPID, PROPVARIANT*)>(dlsym(module, "GetModuleProp"))};
    } catch (...) {
        dlclose(module);
        throw;
    }
}

}  // namespace

std::wstring EngineModule::Version() const {
    constexpr PROPID kModuleVersion = 1;  // NModulePropID::kVersion: major << 16 | minor
    zorvik::rt::prop_variant version;
    if (!GetModuleProp || FAILED(GetModuleProp(kModuleVersion, version.put())) || version.type() != VT_UI4) return {};
    const std::uint32_t value = version.get().ulVal;
    wchar_t text[16];
    std::swprintf(text, std::size(text), L"%u.%02u", value >> 16, value & 0xFFFF);
    return text;
}

const EngineModule& EngineModule::Get() {
    // A failed load is tried again on the next request.
    static std::mutex mutex;
    static std::optional<EngineModule> loaded;
    std::lock_guard lock(mutex);
    if (!loaded) loaded = Load();
    return *loaded;
}

}  // namespace Zorvik::Engine
