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

constexpr char kEngineFileName[] = "lib7z.UWP.so";
constexpr char kEnginePathVariable[] = "ZORVIK_ENGINE";
constexpr std::uint32_t kErrorModNotFound = 126;
constexpr std::uint32_t kErrorProcNotFound = 127;

std::string EnginePath() {
    if (const char* path = std::getenv(kEnginePathVariable); path && *path) return path;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&EngineModule::Get), &info) && info.dli_fname) {
        std::string self = info.dli_fname;
        const auto slash = self.rfind('/');
        return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/" + kEngineFileName;
    }
    return kEngineFileName;
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
        return EngineModule{Export<CreateObjectFunc>(module, "CreateObject"),
                            Export<GetNumberOfFormatsFunc>(module, "GetNumberOfFormats"),
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
