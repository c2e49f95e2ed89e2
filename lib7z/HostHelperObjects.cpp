#include "HostHelperObjects.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "CodecPlugin.h"
#include "Common/StringConvert.h"

// The engine's own entry point (DllExports2.cpp).
extern "C" HRESULT SetCodecs(ICompressCodecsInfo *compressCodecsInfo);

namespace {

// Read by the encoder's worker threads while the host may register again.
std::atomic<IWSHelperObjectsFactory *> registeredFactory{nullptr};

constexpr const char *defaultRarCodecsPath = "/usr/lib/p7zip/Codecs/Rar.so";

// The engine decides at load time, from the host's locale of that moment, whether 8-bit names
// and passwords are UTF-8; in a host that never set a locale ("C") each byte would become a
// character of its own. Here they are UTF-8 whatever the locale, as under the engine's own
// command line in a UTF-8 locale, and the host's locale is left alone.
void UseUtf8ForNarrowText()
{
  g_ForceToUTF8 = true;
}

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
  // The host calls this before any other use of the engine, so the codecs and the text
  // conversion are in place before any handler needs them.
  registeredFactory.store(factory);
  static std::once_flag started;
  try {
    std::call_once(started, [] {
      UseUtf8ForNarrowText();
      InstallRarCodecs();
    });
  } catch (...) {
    return E_OUTOFMEMORY;  // the next call tries again
  }
  return S_OK;
}

IWSHelperObjectsFactory *RegisteredHelperObjectsFactory() noexcept
{
  return registeredFactory.load();
}
