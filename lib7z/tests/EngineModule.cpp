#include "Common/MyInitGuid.h"

#include "EngineModule.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

class MemoryBuffer final : public IWSInOutTempBuffer
{
public:
  explicit MemoryBuffer(CountingBufferFactory &factory) : _factory(factory) {}

  void Create() override { _created = true; }
  void InitWriting() override { _bytes.clear(); }

  bool Write(const void *data, UInt32 size) override
  {
    if (!_created || _factory.failWrites)
      return false;
    _bytes.append(static_cast<const char *>(data), size);
    _factory.bytesWritten += size;
    return true;
  }

  HRESULT WriteToStream(ISequentialOutStream *stream) override
  {
    ++_factory.drained;
    return WriteStream(stream, _bytes.data(), _bytes.size());
  }

  UInt64 GetDataSize() override { return _bytes.size(); }

private:
  static HRESULT WriteStream(ISequentialOutStream *stream, const char *data, size_t size)
  {
    while (size != 0) {
      UInt32 written = 0;
      const HRESULT result =
          stream->Write(data, static_cast<UInt32>(std::min<size_t>(size, 1 << 20)), &written);
      if (result != S_OK)
        return result;
      if (written == 0)
        return E_FAIL;
      data += written;
      size -= written;
    }
    return S_OK;
  }

  CountingBufferFactory &_factory;
  bool _created = false;
  std::string _bytes;
};

template <typename Function>
Function Entry(void *module, const char *name)
{
  const auto function = reinterpret_cast<Function>(dlsym(module, name));
  if (function == nullptr)
    throw std::runtime_error(std::string("engine module lacks ") + name);
  return function;
}

}  // namespace

Variant::Variant(const wchar_t *text) : Variant()
{
  vt = VT_BSTR;
  bstrVal = SysAllocString(text);
}

Variant::Variant(UInt32 number) : Variant()
{
  vt = VT_UI4;
  ulVal = number;
}

std::string Variant::Bytes() const
{
  if (vt != VT_BSTR || bstrVal == nullptr)
    return {};
  return std::string(reinterpret_cast<const char *>(bstrVal), SysStringByteLen(bstrVal));
}

std::wstring Variant::Text() const
{
  return vt == VT_BSTR && bstrVal != nullptr ? std::wstring(bstrVal) : std::wstring();
}

std::shared_ptr<IWSInOutTempBuffer> CountingBufferFactory::CreateInOutTempBuffer()
{
  ++created;
  return std::make_shared<MemoryBuffer>(*this);
}

EngineModule &EngineModule::Get()
{
  static EngineModule module;
  return module;
}

EngineModule::EngineModule()
{
  // Never closed: handlers and codecs may live until the process ends.
  void *module = dlopen(ZORVIK_ENGINE_MODULE, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr)
    throw std::runtime_error(dlerror());
  createObject = Entry<Func_CreateObject>(module, "CreateObject");
  getNumberOfFormats = Entry<Func_GetNumberOfFormats>(module, "GetNumberOfFormats");
  getHandlerProperty2 = Entry<Func_GetHandlerProperty2>(module, "GetHandlerProperty2");
  using InitFunction = HRESULT (*)(IWSHelperObjectsFactory *);
  if (Entry<InitFunction>(module, "Init7zipLibForWS")(&factory) != S_OK)
    throw std::runtime_error("Init7zipLibForWS failed");
}

UInt32 EngineModule::NumberOfFormats() const
{
  UInt32 count = 0;
  return getNumberOfFormats(&count) == S_OK ? count : 0;
}

std::wstring EngineModule::FormatName(UInt32 index) const
{
  Variant name;
  getHandlerProperty2(index, NArchive::NHandlerPropID::kName, &name);
  return name.Text();
}

int EngineModule::FindFormat(const std::wstring &name) const
{
  for (UInt32 i = 0; i < NumberOfFormats(); i++)
    if (FormatName(i) == name)
      return static_cast<int>(i);
  return -1;
}

void *EngineModule::CreateHandler(const std::wstring &format, const GUID &iid) const
{
  const int index = FindFormat(format);
  if (index < 0)
    return nullptr;
  Variant classId;
  getHandlerProperty2(static_cast<UInt32>(index), NArchive::NHandlerPropID::kClassID, &classId);
  const std::string bytes = classId.Bytes();
  if (bytes.size() != sizeof(GUID))
    return nullptr;
  GUID clsid;
  std::memcpy(&clsid, bytes.data(), sizeof clsid);
  void *handler = nullptr;
  return createObject(&clsid, &iid, &handler) == S_OK ? handler : nullptr;
}

Z7_COM7F_IMF(CBytesInStream::Read(void *data, UInt32 size, UInt32 *processedSize))
{
  const size_t available = _position < _size ? _size - static_cast<size_t>(_position) : 0;
  const size_t count = std::min<size_t>(size, available);
  std::memcpy(data, _data + _position, count);
  _position += count;
  if (processedSize)
    *processedSize = static_cast<UInt32>(count);
  return S_OK;
}

Z7_COM7F_IMF(CBytesInStream::Seek(Int64 offset, UInt32 seekOrigin, UInt64 *newPosition))
{
  const Int64 base = seekOrigin == STREAM_SEEK_SET   ? 0
                     : seekOrigin == STREAM_SEEK_CUR ? static_cast<Int64>(_position)
                                                     : static_cast<Int64>(_size);
  if (base + offset < 0)
    return HRESULT_WIN32_ERROR_NEGATIVE_SEEK;
  _position = static_cast<UInt64>(base + offset);
  if (newPosition)
    *newPosition = _position;
  return S_OK;
}

Z7_COM7F_IMF(CBytesOutStream::Write(const void *data, UInt32 size, UInt32 *processedSize))
{
  if (Bytes.size() < _position + size)
    Bytes.resize(static_cast<size_t>(_position + size));
  std::memcpy(Bytes.data() + _position, data, size);
  _position += size;
  if (processedSize)
    *processedSize = size;
  return S_OK;
}

Z7_COM7F_IMF(CBytesOutStream::Seek(Int64 offset, UInt32 seekOrigin, UInt64 *newPosition))
{
  const Int64 base = seekOrigin == STREAM_SEEK_SET   ? 0
                     : seekOrigin == STREAM_SEEK_CUR ? static_cast<Int64>(_position)
                                                     : static_cast<Int64>(Bytes.size());
  if (base + offset < 0)
    return HRESULT_WIN32_ERROR_NEGATIVE_SEEK;
  _position = static_cast<UInt64>(base + offset);
  if (newPosition)
    *newPosition = _position;
  return S_OK;
}

Z7_COM7F_IMF(CBytesOutStream::SetSize(UInt64 newSize))
{
  Bytes.resize(static_cast<size_t>(newSize));
  return S_OK;
}

std::string ReadFile(const std::string &path)
{
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}
