// The built engine module, loaded once per test process, with the test's spill-buffer factory
// registered, plus the small COM helpers the tests drive it with.

#ifndef ZORVIK_LIB7Z_TESTS_ENGINE_MODULE_H
#define ZORVIK_LIB7Z_TESTS_ENGINE_MODULE_H

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "Common/Common.h"
#include "Common/MyCom.h"
#include "7zip/Archive/IArchive.h"
#include "7zip/ICoder.h"

#include "HostHelperObjects.h"

// Owns a PROPVARIANT and clears it with the engine's rules.
struct Variant : PROPVARIANT
{
  Variant() : PROPVARIANT() { vt = VT_EMPTY; }
  explicit Variant(const wchar_t *text);
  explicit Variant(UInt32 number);
  Variant(const Variant &) = delete;
  Variant &operator=(const Variant &) = delete;
  ~Variant() { VariantClear(this); }

  std::string Bytes() const;  // binary content of a VT_BSTR
  std::wstring Text() const;  // empty unless VT_BSTR
};

// Records every buffer it hands out; each keeps its bytes in memory.
class CountingBufferFactory final : public IWSHelperObjectsFactory
{
public:
  std::shared_ptr<IWSInOutTempBuffer> CreateInOutTempBuffer() override;

  std::atomic<int> created{0};
  std::atomic<int> drained{0};          // WriteToStream calls
  std::atomic<UInt64> bytesWritten{0};  // through Write
  std::atomic<bool> failWrites{false};
};

class EngineModule
{
public:
  static EngineModule &Get();

  CountingBufferFactory factory;
  Func_CreateObject createObject = nullptr;
  Func_GetNumberOfFormats getNumberOfFormats = nullptr;
  Func_GetHandlerProperty2 getHandlerProperty2 = nullptr;

  UInt32 NumberOfFormats() const;
  std::wstring FormatName(UInt32 index) const;
  // Index of the format of that name, or -1.
  int FindFormat(const std::wstring &name) const;
  // A handler of the named format, asked for iid; null on failure.
  void *CreateHandler(const std::wstring &format, const GUID &iid) const;

private:
  EngineModule();
};

// IInStream over bytes owned elsewhere.
Z7_CLASS_IMP_IInStream(CBytesInStream) public : CBytesInStream(const void *data, size_t size)
    : _data(static_cast<const Byte *>(data)), _size(size)
{
}

private:
const Byte *_data;
size_t _size;
UInt64 _position = 0;
}
;

// IOutStream collecting everything into Bytes.
class CBytesOutStream final : public IOutStream, public CMyUnknownImp
{
  Z7_IFACES_IMP_UNK_2(ISequentialOutStream, IOutStream)
public:
  std::string Bytes;

private:
  UInt64 _position = 0;
};

// Reads a whole file; empty on failure.
std::string ReadFile(const std::string &path);

#endif
