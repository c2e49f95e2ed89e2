#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "7zip/PropID.h"

#include "EngineModule.h"

namespace {

// Offers one new file with the given content.
Z7_CLASS_IMP_COM_1(COneFileUpdateCallback, IArchiveUpdateCallback)
Z7_IFACE_COM7_IMP(IProgress)
public:
explicit COneFileUpdateCallback(const std::string &content) : _content(content) {}

private:
const std::string &_content;
};

Z7_COM7F_IMF(COneFileUpdateCallback::SetTotal(UInt64))
{
  return S_OK;
}
Z7_COM7F_IMF(COneFileUpdateCallback::SetCompleted(const UInt64 *))
{
  return S_OK;
}

Z7_COM7F_IMF(COneFileUpdateCallback::GetUpdateItemInfo(UInt32, Int32 *newData, Int32 *newProps,
                                                       UInt32 *indexInArchive))
{
  *newData = 1;
  *newProps = 1;
  *indexInArchive = static_cast<UInt32>(-1);
  return S_OK;
}

Z7_COM7F_IMF(COneFileUpdateCallback::GetProperty(UInt32, PROPID propID, PROPVARIANT *value))
{
  value->vt = VT_EMPTY;
  if (propID == kpidPath) {
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocString(L"program.bin");
  } else if (propID == kpidIsDir) {
    value->vt = VT_BOOL;
    value->boolVal = VARIANT_FALSE;
  } else if (propID == kpidSize) {
    value->vt = VT_UI8;
    value->uhVal.QuadPart = _content.size();
  }
  return S_OK;
}

Z7_COM7F_IMF(COneFileUpdateCallback::GetStream(UInt32, ISequentialInStream **inStream))
{
  CMyComPtr<ISequentialInStream> stream = new CBytesInStream(_content.data(), _content.size());
  *inStream = stream.Detach();
  return S_OK;
}

Z7_COM7F_IMF(COneFileUpdateCallback::SetOperationResult(Int32))
{
  return S_OK;
}

// Machine-code-like bytes: relative calls and jumps between compressible filler, so that BCJ2
// fills its call and jump streams.
std::string ProgramLikeBytes(size_t size)
{
  std::mt19937 random(7);
  std::string bytes;
  bytes.reserve(size + 8);
  while (bytes.size() < size) {
    const unsigned kind = random() % 8;
    if (kind < 2) {
      bytes += kind == 0 ? '\xE8' : '\xE9';
      const UInt32 target = random() % 0x10000;
      bytes.append(reinterpret_cast<const char *>(&target), 4);
    } else {
      bytes += static_cast<char>('a' + random() % 16);
    }
  }
  bytes.resize(size);
  return bytes;
}

HRESULT CreateBcj2Archive(const std::string &content, std::string &archive)
{
  CMyComPtr<IOutArchive> handler;
  handler.Attach(
      static_cast<IOutArchive *>(EngineModule::Get().CreateHandler(L"7z", IID_IOutArchive)));
  if (!handler)
    return E_NOINTERFACE;
  CMyComPtr<ISetProperties> setProperties;
  handler.QueryInterface(IID_ISetProperties, &setProperties);
  if (!setProperties)
    return E_NOINTERFACE;
  const wchar_t *names[] = {L"0", L"1", L"x"};
  Variant values[3] = {Variant(L"BCJ2"), Variant(L"LZMA"), Variant(UInt32{1})};
  RINOK(setProperties->SetProperties(names, values, 3))

  CBytesOutStream *outStreamSpec = new CBytesOutStream;
  CMyComPtr<ISequentialOutStream> outStream = outStreamSpec;
  CMyComPtr<IArchiveUpdateCallback> callback = new COneFileUpdateCallback(content);
  RINOK(handler->UpdateItems(outStream, 1, callback))
  archive = outStreamSpec->Bytes;
  return S_OK;
}

TEST(SpillBuffers, SevenZipWithBcj2TakesThemFromTheRegisteredFactory)
{
  CountingBufferFactory &factory = EngineModule::Get().factory;
  const int createdBefore = factory.created;
  const int drainedBefore = factory.drained;
  const UInt64 writtenBefore = factory.bytesWritten;

  const std::string content = ProgramLikeBytes(6 << 20);
  std::string archive;
  ASSERT_EQ(CreateBcj2Archive(content, archive), S_OK);

  // BCJ2's call, jump and range-coder streams are held back until the main stream is done.
  EXPECT_EQ(factory.created - createdBefore, 3);
  EXPECT_EQ(factory.drained - drainedBefore, factory.created - createdBefore);
  EXPECT_GT(factory.bytesWritten - writtenBefore, 0u);

  std::string path = testing::TempDir() + "lib7z-bcj2-XXXXXX";
  const int fd = mkstemp(path.data());
  ASSERT_GE(fd, 0);
  close(fd);
  std::ofstream(path, std::ios::binary)
      .write(archive.data(), static_cast<std::streamsize>(archive.size()));
  const std::string command = "7z t -bso0 -bsp0 '" + path + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << "7z t rejects the archive";
  std::remove(path.c_str());
}

TEST(SpillBuffers, AFailingBufferFailsTheUpdate)
{
  CountingBufferFactory &factory = EngineModule::Get().factory;
  factory.failWrites = true;
  std::string archive;
  const HRESULT result = CreateBcj2Archive(ProgramLikeBytes(1 << 20), archive);
  factory.failWrites = false;
  EXPECT_NE(result, S_OK);
}

}  // namespace
