// Interfaces through which the host hands the engine its helper objects (temporary spill
// buffers). They cross the module boundary by ABI: the host declares them with its own types,
// so the slot order and the std::shared_ptr layout must not change.

#ifndef ZORVIK_LIB7Z_WS_HELPER_OBJECTS_H
#define ZORVIK_LIB7Z_WS_HELPER_OBJECTS_H

#include <memory>

#include "Common/MyTypes.h"
#include "Common/MyWindows.h"
#include "7zip/IStream.h"

struct IWSInOutTempBuffer
{
  virtual void Create() = 0;  // allocates the 1 MiB memory part
  virtual void InitWriting() = 0;
  virtual bool Write(const void *data, UInt32 size) = 0;
  virtual HRESULT WriteToStream(ISequentialOutStream *stream) = 0;
  virtual UInt64 GetDataSize() = 0;

protected:
  // Owned through a std::shared_ptr made by the host, never deleted through this interface.
  ~IWSInOutTempBuffer() = default;
};

struct IWSHelperObjectsFactory
{
  virtual std::shared_ptr<IWSInOutTempBuffer> CreateInOutTempBuffer() = 0;
  virtual ~IWSHelperObjectsFactory() = default;
};

// Registers the host's factory (null unregisters it); the first call also installs the optional
// RAR codec plug-in. S_OK, or E_OUTOFMEMORY if the plug-in could not be set up.
extern "C" HRESULT Init7zipLibForWS(IWSHelperObjectsFactory *factory);

// The factory last registered, or null.
IWSHelperObjectsFactory *RegisteredHelperObjectsFactory() noexcept;

#endif
