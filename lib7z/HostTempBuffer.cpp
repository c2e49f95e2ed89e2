#include "HostTempBuffer.h"

CInOutTempBuffer::CInOutTempBuffer()
{
  if (IWSHelperObjectsFactory *factory = RegisteredHelperObjectsFactory())
    _buffer = factory->CreateInOutTempBuffer();
  if (_buffer) {
    _buffer->Create();
    _buffer->InitWriting();
  }
}

HRESULT CInOutTempBuffer::Write_HRESULT(const void *data, UInt32 size)
{
  if (size == 0)
    return S_OK;
  if (!_buffer)
    return E_OUTOFMEMORY;
  return _buffer->Write(data, size) ? S_OK : E_FAIL;
}

HRESULT CInOutTempBuffer::WriteToStream(ISequentialOutStream *stream)
{
  // Without a buffer nothing can have been written.
  return _buffer ? _buffer->WriteToStream(stream) : S_OK;
}

UInt64 CInOutTempBuffer::GetDataSize() const
{
  return _buffer ? _buffer->GetDataSize() : 0;
}
