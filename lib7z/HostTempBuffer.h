// Temporary storage of the 7z encoder's secondary streams. Takes the place of the engine's own
// unit of the same name: every buffer comes from the factory the host registered through
// Init7zipLibForWS, so the host decides where spilled data lives.

#ifndef ZIP7_INC_IN_OUT_TEMP_BUFFER_H
#define ZIP7_INC_IN_OUT_TEMP_BUFFER_H

#include <memory>

#include "Common/Common.h"
#include "7zip/IStream.h"

#include "HostHelperObjects.h"

class CInOutTempBuffer
{
  std::shared_ptr<IWSInOutTempBuffer> _buffer;  // null without a registered factory

  Z7_CLASS_NO_COPY(CInOutTempBuffer)
public:
  CInOutTempBuffer();
  HRESULT Write_HRESULT(const void *data, UInt32 size);
  HRESULT WriteToStream(ISequentialOutStream *stream);
  UInt64 GetDataSize() const;
};

#endif
