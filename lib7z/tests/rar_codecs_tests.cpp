#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>

#include "7zip/PropID.h"

#include "EngineModule.h"

namespace {

// Collects each entry's bytes and operation result.
Z7_CLASS_IMP_COM_1(CCollectingExtractCallback, IArchiveExtractCallback)
Z7_IFACE_COM7_IMP(IProgress)
public:
std::map<UInt32, std::string> Contents;
std::map<UInt32, Int32> Results;

private:
UInt32 _current = 0;
};

// Appends to one entry of the callback's contents.
Z7_CLASS_IMP_COM_1(CEntryOutStream, ISequentialOutStream)
public:
explicit CEntryOutStream(std::string &bytes) : _bytes(bytes) {}

private:
std::string &_bytes;
}
;

Z7_COM7F_IMF(CEntryOutStream::Write(const void *data, UInt32 size, UInt32 *processedSize))
{
  _bytes.append(static_cast<const char *>(data), size);
  if (processedSize)
    *processedSize = size;
  return S_OK;
}

Z7_COM7F_IMF(CCollectingExtractCallback::SetTotal(UInt64))
{
  return S_OK;
}
Z7_COM7F_IMF(CCollectingExtractCallback::SetCompleted(const UInt64 *))
{
  return S_OK;
}

Z7_COM7F_IMF(CCollectingExtractCallback::GetStream(UInt32 index, ISequentialOutStream **outStream,
                                                   Int32 askExtractMode))
{
  _current = index;
  *outStream = nullptr;
  if (askExtractMode == NArchive::NExtract::NAskMode::kExtract) {
    CMyComPtr<ISequentialOutStream> stream = new CEntryOutStream(Contents[index]);
    *outStream = stream.Detach();
  }
  return S_OK;
}

Z7_COM7F_IMF(CCollectingExtractCallback::PrepareOperation(Int32))
{
  return S_OK;
}

Z7_COM7F_IMF(CCollectingExtractCallback::SetOperationResult(Int32 opRes))
{
  Results[_current] = opRes;
  return S_OK;
}

UInt32 Crc32(const std::string &bytes)
{
  UInt32 crc = 0xFFFFFFFF;
  for (const char byte : bytes) {
    crc ^= static_cast<unsigned char>(byte);
    for (int bit = 0; bit < 8; bit++)
      crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
  }
  return ~crc;
}

std::string RarCodecsPath()
{
  const char *path = std::getenv("ZORVIK_7Z_CODECS");
  return path != nullptr && *path != '\0' ? path : "/usr/lib/p7zip/Codecs/Rar.so";
}

TEST(RarCodecs, CompressedRar4ExtractsThroughThePlugin)
{
  const std::string archivePath = ZORVIK_RAR4_FIXTURES "/test_read_format_rar_compress_best.rar";
  if (access(archivePath.c_str(), R_OK) != 0)
    GTEST_SKIP() << "fixture missing: " << archivePath;
  if (access(RarCodecsPath().c_str(), R_OK) != 0)
    GTEST_SKIP() << "RAR codecs plug-in missing: " << RarCodecsPath() << " (package p7zip-rar)";

  const std::string archive = ReadFile(archivePath);
  CMyComPtr<IInArchive> handler;
  handler.Attach(
      static_cast<IInArchive *>(EngineModule::Get().CreateHandler(L"Rar", IID_IInArchive)));
  ASSERT_TRUE(handler);
  CMyComPtr<IInStream> stream = new CBytesInStream(archive.data(), archive.size());
  const UInt64 maxStartOffset = 0;
  ASSERT_EQ(handler->Open(stream, &maxStartOffset, nullptr), S_OK);

  CCollectingExtractCallback *callbackSpec = new CCollectingExtractCallback;
  CMyComPtr<IArchiveExtractCallback> callback = callbackSpec;
  ASSERT_EQ(handler->Extract(nullptr, static_cast<UInt32>(-1), 0, callback), S_OK);

  const std::map<std::wstring, std::pair<size_t, UInt32>> expectedFiles = {
      {L"LibarchiveAddingTest.html", {20111, 0x5E05A663}},
      {L"testdir/test.txt", {20, 0xBEC8A242}},
      {L"testdir/LibarchiveAddingTest.html", {20111, 0x5E05A663}},
  };
  UInt32 count = 0;
  ASSERT_EQ(handler->GetNumberOfItems(&count), S_OK);
  EXPECT_EQ(count, 6u);
  size_t filesSeen = 0;
  for (UInt32 i = 0; i < count; i++) {
    Variant path;
    handler->GetProperty(i, kpidPath, &path);
    SCOPED_TRACE(i);
    EXPECT_EQ(callbackSpec->Results[i], NArchive::NExtract::NOperationResult::kOK);
    const auto file = expectedFiles.find(path.Text());
    if (file == expectedFiles.end())
      continue;
    filesSeen++;
    const std::string &content = callbackSpec->Contents[i];
    EXPECT_EQ(content.size(), file->second.first);
    EXPECT_EQ(Crc32(content), file->second.second);
  }
  EXPECT_EQ(filesSeen, expectedFiles.size());
}

}  // namespace
