#include "CodecPlugin.h"

#include <dlfcn.h>

#include "Windows/PropVariant.h"

namespace {

// RTLD_DEEPBIND keeps the module's own helpers (SysAllocString, say) bound inside it. The
// sanitizer runtimes refuse it; the host's equivalents keep the same BSTR and PROPVARIANT layout.
// RTLD_NODELETE keeps the code mapped for coders that outlive the last reference to us.
#ifdef ZORVIK_SANITIZED
constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;
#else
constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE | RTLD_DEEPBIND;
#endif

template <typename Function>
Function Entry(void *library, const char *name)
{
  return reinterpret_cast<Function>(dlsym(library, name));
}

// Modules whose IUnknown has a virtual destructor (p7zip, old builds) have other vtables.
bool HasOurComAbi(void *library)
{
  const auto getModuleProp = Entry<Func_GetModuleProp>(library, "GetModuleProp");
  if (getModuleProp == nullptr)
    return false;
  NWindows::NCOM::CPropVariant interfaceType;
  return getModuleProp(NModulePropID::kInterfaceType, &interfaceType) == S_OK &&
         interfaceType.vt == VT_UI4 &&
         interfaceType.ulVal == NModuleInterfaceType::k_IUnknown_VirtDestructor_ThisModule;
}

}  // namespace

void CCodecPlugin::LibraryCloser::operator()(void *library) const noexcept
{
  dlclose(library);
}

CMyComPtr<ICompressCodecsInfo> CCodecPlugin::Open(const char *path)
{
  Library library(dlopen(path, kOpenFlags));
  if (!library || !HasOurComAbi(library.get()))
    return nullptr;
  const auto getNumberOfMethods =
      Entry<Func_GetNumberOfMethods>(library.get(), "GetNumberOfMethods");
  const auto getMethodProperty = Entry<Func_GetMethodProperty>(library.get(), "GetMethodProperty");
  const auto createDecoder = Entry<Func_CreateDecoder>(library.get(), "CreateDecoder");
  const auto createEncoder = Entry<Func_CreateEncoder>(library.get(), "CreateEncoder");
  if (!getNumberOfMethods || !getMethodProperty || !createDecoder || !createEncoder)
    return nullptr;
  return new CCodecPlugin(std::move(library), getNumberOfMethods, getMethodProperty, createDecoder,
                          createEncoder);
}

CCodecPlugin::CCodecPlugin(Library library, Func_GetNumberOfMethods getNumberOfMethods,
                           Func_GetMethodProperty getMethodProperty,
                           Func_CreateDecoder createDecoder, Func_CreateEncoder createEncoder)
    : _library(std::move(library)),
      _getNumberOfMethods(getNumberOfMethods),
      _getMethodProperty(getMethodProperty),
      _createDecoder(createDecoder),
      _createEncoder(createEncoder)
{
}

Z7_COM7F_IMF(CCodecPlugin::GetNumMethods(UInt32 *numMethods))
{
  return _getNumberOfMethods(numMethods);
}

Z7_COM7F_IMF(CCodecPlugin::GetProperty(UInt32 index, PROPID propID, PROPVARIANT *value))
{
  return _getMethodProperty(index, propID, value);
}

Z7_COM7F_IMF(CCodecPlugin::CreateDecoder(UInt32 index, const GUID *iid, void **coder))
{
  return _createDecoder(index, iid, coder);
}

Z7_COM7F_IMF(CCodecPlugin::CreateEncoder(UInt32 index, const GUID *iid, void **coder))
{
  return _createEncoder(index, iid, coder);
}
