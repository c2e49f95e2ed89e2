#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "EngineModule.h"

namespace {

using NArchive::NHandlerPropID::kClassID;
using NArchive::NHandlerPropID::kExtension;
using NArchive::NHandlerPropID::kMultiSignature;
using NArchive::NHandlerPropID::kSignature;
using NArchive::NHandlerPropID::kSignatureOffset;

std::string Property(UInt32 format, PROPID id)
{
  Variant value;
  EXPECT_EQ(EngineModule::Get().getHandlerProperty2(format, id, &value), S_OK);
  return value.Bytes();
}

// Each entry of a multi-signature is one length byte followed by the signature.
bool MultiSignatureHolds(const std::string &multi, const std::string &signature)
{
  for (size_t i = 0; i < multi.size(); i += 1 + static_cast<unsigned char>(multi[i]))
    if (multi.compare(i + 1, static_cast<unsigned char>(multi[i]), signature) == 0)
      return true;
  return false;
}

struct ExpectedFormat
{
  const wchar_t *name;
  const wchar_t *extension;  // first listed extension
  std::string signature;     // from the single or the multi-signature property
  UInt32 signatureOffset;
};

TEST(FormatList, HoldsTheFormatsTheComponentOffers)
{
  using namespace std::string_literals;
  const ExpectedFormat expected[] = {
      {L"7z", L"7z", "7z\xBC\xAF\x27\x1C"s, 0},
      {L"zip", L"zip", "PK\x03\x04"s, 0},  // among several, multi-signature only
      {L"tar", L"tar", "ustar"s, 257},
      {L"gzip", L"gz", "\x1F\x8B\x08"s, 0},
      {L"bzip2", L"bz2", "BZh"s, 0},
      {L"xz", L"xz",
       "\xFD"
       "7zXZ\0"s,
       0},
      {L"Rar", L"rar", "Rar!\x1A\x07\x00"s, 0},
      {L"Rar5", L"rar", "Rar!\x1A\x07\x01\x00"s, 0},
      {L"Iso", L"iso", "CD001"s, 0x8001},
      {L"Udf", L"udf", "\0BEA01\x01\0"s, 0x8000},  // multi-signature only
  };
  const EngineModule &engine = EngineModule::Get();
  std::set<std::string> classIds;
  for (const ExpectedFormat &format : expected) {
    SCOPED_TRACE(std::string(format.name, format.name + wcslen(format.name)));
    const int index = engine.FindFormat(format.name);
    ASSERT_GE(index, 0);
    const auto i = static_cast<UInt32>(index);

    Variant extensions;
    engine.getHandlerProperty2(i, kExtension, &extensions);
    EXPECT_EQ(extensions.Text().substr(0, extensions.Text().find(L' ')), format.extension);

    // The engine's handler class IDs: {23170F69-40C1-278A-1000-000110xx0000}.
    const std::string classId = Property(i, kClassID);
    ASSERT_EQ(classId.size(), sizeof(GUID));
    GUID guid;
    memcpy(&guid, classId.data(), sizeof guid);
    EXPECT_EQ(guid.Data1, 0x23170F69u);
    EXPECT_TRUE(classIds.insert(classId).second) << "class ID shared with another format";

    const std::string signature = Property(i, kSignature);
    const std::string multi = Property(i, kMultiSignature);
    EXPECT_TRUE(signature == format.signature || MultiSignatureHolds(multi, format.signature));
    Variant offset;
    engine.getHandlerProperty2(i, kSignatureOffset, &offset);
    EXPECT_EQ(offset.vt == VT_UI4 ? offset.ulVal : 0u, format.signatureOffset);
  }
}

TEST(ModuleExports, OnlyTheEntryPoints)
{
  const std::set<std::string> expected = {
      "CreateObject",      "GetHandlerProperty", "GetHandlerProperty2", "GetNumberOfFormats",
      "GetIsArc",          "GetNumberOfMethods", "GetMethodProperty",   "CreateDecoder",
      "CreateEncoder",     "GetHashers",         "SetCodecs",           "SetLargePageMode",
      "SetLargePageMode2", "SetCaseSensitive",   "GetModuleProp",       "Init7zipLibForWS"};
  const std::unique_ptr<FILE, int (*)(FILE *)> nm(
      popen("nm -D --defined-only '" ZORVIK_ENGINE_MODULE "'", "r"), pclose);
  ASSERT_NE(nm, nullptr);
  std::set<std::string> exported;
  char address[64], type[8], name[512];
  while (fscanf(nm.get(), "%63s %7s %511s", address, type, name) == 3)
    exported.insert(name);
  EXPECT_EQ(exported, expected);
}

}  // namespace
