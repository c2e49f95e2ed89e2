#include "WSHelperObjects.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "CodecPlugin.h"

// The engine's own entry point (DllExports2.cpp).
extern "C" HRESULT SetCodecs(ICompressCodecsInfo *compressCodecsInfo);

namespace {

// Read by the encoder's worker threads while the host may register again.
std::atomic<IWSHelperObjectsFactory *> registeredFactory{nullptr};

constexpr const char *defaultRarCodecsPath = "/usr/lib/p7zip/Codecs/Rar.so";

void InstallRarCodecs()
{
  const char *path = std::getenv("ZORVIK_7Z_CODECS");
  if (path == nullptr || *path == '\0')
    path = defaultRarCodecsPath;
  // Without the plug-in the engine still works; compressed RAR data reports an unsupported method.
  if (const CMyComPtr<ICompressCodecsInfo> codecs = CCodecPlugin::Open(path))
    SetCodecs(codecs);
}

}  // namespace

extern "C" HRESULT Init7zipLibForWS(IWSHelperObjectsFactory *factory)
{
  // The host calls this before any other use of the engine, so the codecs are in place before
  // any handler can look for them.
  registeredFactory.store(factory);
  static std::once_flag codecsInstalled;
  try {
    std::call_once(codecsInstalled, InstallRarCodecs);
  } catch (...) {
    return E_OUTOFMEMORY;  // the next call tries again
  }
  return S_OK;
}

IWSHelperObjectsFactory *RegisteredHelperObjectsFactory() noexcept
{
  return registeredFactory.load();
}
