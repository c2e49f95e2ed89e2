// The format list: built from a fake engine for the rules of reading handler properties, and
// from the real engine module for what opening and writing rely on; ArchiveFormat and the
// ArchiveInfo statics as callers see them.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "model/ArchiveFormat.h"
#include "model/ArchiveInfoFactory.h"
#include "model/FormatRecord.h"
#include "zorvik/runtime/collections.h"

namespace Zorvik::Impl::Testing {
namespace {

using zorvik::rt::com_ptr;
using zorvik::rt::hstring;
using zorvik::rt::prop_variant;

// ---- a fake engine over a static table ------------------------------------------------

struct FakeFormat {
    std::map<Engine::PROPID, prop_variant> Values;
    // These calls fail, though they still fill the value in.
    std::set<Engine::PROPID> Failing;
};

std::vector<FakeFormat> g_fakeFormats;

HRESULT FakeNumberOfFormats(std::uint32_t* count) {
    *count = static_cast<std::uint32_t>(g_fakeFormats.size());
    return S_OK;
}

HRESULT FakeHandlerProperty(std::uint32_t index, Engine::PROPID id, PROPVARIANT* value) {
    if (index >= g_fakeFormats.size()) return E_INVALIDARG;
    const FakeFormat& format = g_fakeFormats[index];
    const auto found = format.Values.find(id);
    if (found != format.Values.end()) VariantCopy(value, &found->second.get());
    return format.Failing.count(id) ? E_FAIL : S_OK;
}

const Engine::EngineModule kFakeEngine{nullptr, &FakeNumberOfFormats, &FakeHandlerProperty, nullptr};

prop_variant Text(std::wstring_view text) {
    prop_variant value;
    value.set_string(text);
    return value;
}

// Binary data the engine's way: a BSTR whose byte length is the data's length.
prop_variant Bytes(std::string_view bytes) {
    prop_variant value;
    PROPVARIANT* raw = value.put();
    raw->bstrVal = SysAllocStringByteLen(bytes.data(), static_cast<UINT>(bytes.size()));
    raw->vt = VT_BSTR;
    return value;
}

prop_variant Flag(bool flag) {
    prop_variant value;
    value.set_bool(flag);
    return value;
}

FakeFormat Named(std::wstring_view name) {
    FakeFormat format;
    format.Values[Engine::kHandlerName] = Text(name);
    return format;
}

std::vector<std::wstring> NamesOf(const FormatList& formats) {
    std::vector<std::wstring> names;
    for (const auto& record : formats) names.push_back(record.Name);
    return names;
}

std::vector<std::uint8_t> ByteVector(std::string_view bytes) { return {bytes.begin(), bytes.end()}; }

class FakeEngineFormats : public ::testing::Test {
protected:
    void TearDown() override { g_fakeFormats.clear(); }
};

TEST_F(FakeEngineFormats, UdfIsMovedAheadOfTheFirstIsoOnly) {
    for (const wchar_t* name : {L"a", L"b", L"c", L"Iso", L"d", L"e", L"f", L"UDF", L"iso"}) g_fakeFormats.push_back(Named(name));
    EXPECT_EQ(NamesOf(BuildFormatList(kFakeEngine)),
              (std::vector<std::wstring>{L"a", L"b", L"c", L"UDF", L"d", L"e", L"f", L"Iso", L"iso"}));

    g_fakeFormats.clear();
    for (const wchar_t* name : {L"a", L"udf", L"b", L"c", L"iso"}) g_fakeFormats.push_back(Named(name));
    EXPECT_EQ(NamesOf(BuildFormatList(kFakeEngine)), (std::vector<std::wstring>{L"a", L"udf", L"b", L"c", L"iso"}));

    g_fakeFormats.clear();
    for (const wchar_t* name : {L"iso", L"a"}) g_fakeFormats.push_back(Named(name));
    EXPECT_EQ(NamesOf(BuildFormatList(kFakeEngine)), (std::vector<std::wstring>{L"iso", L"a"}));
}

TEST_F(FakeEngineFormats, ExtensionsPairWithAdditionalExtensions) {
    FakeFormat tgz = Named(L"gzip");
    tgz.Values[Engine::kHandlerExtension] = Text(L"tgz tpz");
    tgz.Values[Engine::kHandlerAddExtension] = Text(L"* tar");
    FakeFormat spaced = Named(L"spaced");
    spaced.Values[Engine::kHandlerExtension] = Text(L"  one   two three ");
    spaced.Values[Engine::kHandlerAddExtension] = Text(L" x  ");
    g_fakeFormats = {tgz, spaced};

    const auto formats = BuildFormatList(kFakeEngine);
    ASSERT_EQ(formats.size(), 2u);
    const auto pairs = [](const FormatRecord& record) {
        std::vector<std::pair<std::wstring, std::wstring>> result;
        for (const auto& pair : record.Extensions) result.emplace_back(pair.Extension, pair.AddExtension);
        return result;
    };
    using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;
    EXPECT_EQ(pairs(formats[0]), (Pairs{{L"tgz", L""}, {L"tpz", L"tar"}}));
    EXPECT_EQ(pairs(formats[1]), (Pairs{{L"one", L"x"}, {L"two", L""}, {L"three", L""}}));
}

TEST_F(FakeEngineFormats, FailingOrMistypedPropertiesLeaveFieldsEmpty) {
    FakeFormat failing;
    failing.Values = {{Engine::kHandlerName, Text(L"7z")},      {Engine::kHandlerClassID, Bytes(std::string(16, '\x11'))},
                      {Engine::kHandlerExtension, Text(L"7z")}, {Engine::kHandlerAddExtension, Text(L"x")},
                      {Engine::kHandlerUpdate, Flag(true)},     {Engine::kHandlerKeepName, Flag(true)},
                      {Engine::kHandlerSignature, Bytes("7z")}, {Engine::kHandlerMultiSignature, Bytes("\x02PK")}};
    for (const auto& [id, value] : failing.Values) failing.Failing.insert(id);
    FakeFormat mistyped;
    mistyped.Values = {{Engine::kHandlerName, Flag(true)},      {Engine::kHandlerClassID, Flag(true)},
                       {Engine::kHandlerExtension, Flag(true)}, {Engine::kHandlerUpdate, Text(L"1")},
                       {Engine::kHandlerKeepName, Text(L"1")},  {Engine::kHandlerSignature, Flag(true)}};
    g_fakeFormats = {failing, mistyped, FakeFormat{}};

    const auto formats = BuildFormatList(kFakeEngine);
    ASSERT_EQ(formats.size(), 3u);
    for (const auto& record : formats) {
        EXPECT_TRUE(record.Name.empty());
        EXPECT_TRUE(record.ClassId == GUID{});
        EXPECT_TRUE(record.Extensions.empty());
        EXPECT_TRUE(record.Signature.empty());
        EXPECT_FALSE(record.CanUpdate);
        EXPECT_FALSE(record.KeepsName);
        EXPECT_FALSE(record.Compressor);
    }
}

TEST_F(FakeEngineFormats, ClassIdFlagsAndSignatureBytes) {
    const std::string classId = "0123456789abcdef";
    FakeFormat plain = Named(L"plain");
    plain.Values[Engine::kHandlerClassID] = Bytes(classId);
    plain.Values[Engine::kHandlerKeepName] = Flag(true);
    // Odd length, a zero byte and bytes above 0x7F: the byte length counts, not characters.
    plain.Values[Engine::kHandlerSignature] = Bytes(std::string_view("\x00\xBC\xAF", 3));
    plain.Values[Engine::kHandlerMultiSignature] = Bytes("\x02PK");
    FakeFormat multi = Named(L"multi");
    multi.Values[Engine::kHandlerSignature] = Bytes("");
    multi.Values[Engine::kHandlerMultiSignature] = Bytes("\x04PK\x03\x04\x04PK\x05\x06");
    FakeFormat truncated = Named(L"truncated");
    truncated.Values[Engine::kHandlerMultiSignature] = Bytes("\x09PK");
    g_fakeFormats = {plain, multi, truncated};

    const auto formats = BuildFormatList(kFakeEngine);
    ASSERT_EQ(formats.size(), 3u);
    EXPECT_EQ(std::memcmp(&formats[0].ClassId, classId.data(), sizeof(GUID)), 0);
    EXPECT_TRUE(formats[0].KeepsName);
    EXPECT_FALSE(formats[0].CanUpdate);
    EXPECT_EQ(formats[0].Signature, ByteVector(std::string_view("\x00\xBC\xAF", 3)));
    EXPECT_EQ(formats[1].Signature, ByteVector("PK\x03\x04"));
    EXPECT_TRUE(formats[2].Signature.empty());
}

// ---- ArchiveFormat ---------------------------------------------------------------------

std::wstring Take(HSTRING value) { return std::wstring(hstring::attach(value).view()); }

TEST(ArchiveFormatClass, ReportsItsRecord) {
    FormatRecord record;
    record.Name = L"zip";
    record.Extensions = {{L"zip", L""}, {L"jar", L""}};
    record.CanUpdate = true;
    const auto format = zorvik::rt::make<ArchiveFormat>(record);
    record.Extensions.clear();  // the object keeps its own copy

    HSTRING text = nullptr;
    ASSERT_EQ(format->get_Name(&text), S_OK);
    EXPECT_EQ(Take(text), L"zip");
    ASSERT_EQ(format->get_DefaultExtension(&text), S_OK);
    EXPECT_EQ(Take(text), L"zip");
    bool flag = false;
    ASSERT_EQ(format->get_CanUpdate(&flag), S_OK);
    EXPECT_TRUE(flag);
    ASSERT_EQ(format->get_KeepsName(&flag), S_OK);
    EXPECT_FALSE(flag);
    const std::map<std::wstring, bool> answers{{L"ZIP", true}, {L"Jar", true}, {L"zi", false}, {L"", false}};
    for (const auto& [argument, expected] : answers) {
        ASSERT_EQ(format->HasExtension(hstring(argument).get(), &flag), S_OK);
        EXPECT_EQ(flag, expected) << zorvik::rt::to_utf8(argument);
    }
    EXPECT_EQ(format->get_Name(nullptr), E_POINTER);

    const auto bare = zorvik::rt::make<ArchiveFormat>(FormatRecord{});
    ASSERT_EQ(bare->get_DefaultExtension(&text), S_OK);
    EXPECT_EQ(Take(text), L"");
    ASSERT_EQ(bare->get_Name(&text), S_OK);
    EXPECT_EQ(Take(text), L"");
}

TEST(ArchiveFormatClass, FactoryDoesNotActivate) {
    const auto factory = CreateArchiveFormatFactory();
    hstring name;
    ASSERT_EQ(factory->GetRuntimeClassName(name.put()), S_OK);
    EXPECT_EQ(name.view(), L"Zorvik.__ArchiveFormatActivationFactory");
    com_ptr<IInspectable> instance;
    EXPECT_EQ(factory->ActivateInstance(instance.put()), E_NOTIMPL);
    EXPECT_FALSE(instance);
}

// ---- the real engine -------------------------------------------------------------------

const FormatRecord* Find(const FormatList& formats, std::wstring_view name) {
    const auto found = std::find_if(formats.begin(), formats.end(), [&](const FormatRecord& r) { return r.Name == name; });
    return found == formats.end() ? nullptr : &*found;
}

std::ptrdiff_t PositionOf(const FormatList& formats, std::wstring_view name) { return Find(formats, name) - formats.data(); }

TEST(RealEngineFormats, SignaturesOrderAndClassIds) {
    const auto& engine = Engine::EngineModule::Get();
    const auto formats = BuildFormatList(engine);
    std::uint32_t count = 0;
    engine.GetNumberOfFormats(&count);
    EXPECT_EQ(formats.size(), count);

    for (const wchar_t* name : {L"7z", L"zip", L"tar", L"gzip", L"Rar", L"Iso", L"Udf"}) {
        ASSERT_TRUE(Find(formats, name)) << zorvik::rt::to_utf8(name);
    }
    EXPECT_EQ(Find(formats, L"7z")->Signature, ByteVector("7z\xBC\xAF\x27\x1C"));
    EXPECT_EQ(Find(formats, L"zip")->Signature, ByteVector("PK\x03\x04"));
    EXPECT_EQ(Find(formats, L"tar")->Signature, ByteVector("ustar"));
    EXPECT_LT(PositionOf(formats, L"Udf"), PositionOf(formats, L"Iso"));
    EXPECT_TRUE(Find(formats, L"gzip")->KeepsName);

    // The class IDs are the ones the engine creates handlers from.
    for (const wchar_t* name : {L"7z", L"zip", L"Rar"}) {
        com_ptr<Engine::IInArchive> handler;
        EXPECT_EQ(engine.CreateObject(&Find(formats, name)->ClassId, &Engine::IInArchive::iid, handler.put_void()), S_OK)
            << zorvik::rt::to_utf8(name);
    }
}

TEST(RealEngineFormats, OnlyUpdatableFormatsHaveACompressor) {
    const auto formats = BuildFormatList(Engine::EngineModule::Get());
    const FormatRecord* rar = Find(formats, L"Rar");
    ASSERT_TRUE(rar);
    EXPECT_FALSE(rar->CanUpdate);
    EXPECT_FALSE(rar->Compressor);

    for (const wchar_t* name : {L"7z", L"zip", L"tar", L"gzip", L"bzip2", L"xz"}) {
        const FormatRecord* format = Find(formats, name);
        ASSERT_TRUE(format) << zorvik::rt::to_utf8(name);
        EXPECT_TRUE(format->CanUpdate) << zorvik::rt::to_utf8(name);
        ASSERT_TRUE(format->Compressor) << zorvik::rt::to_utf8(name);
        hstring compressorName;
        ASSERT_EQ(format->Compressor->get_FormatName(compressorName.put()), S_OK);
        EXPECT_TRUE(NamesEqual(compressorName.view(), name));
    }
}

TEST_F(FakeEngineFormats, ReadOnlyFormatGetsNoCompressorEvenWhenOneIsNamedLikeIt) {
    FakeFormat readOnly = Named(L"7z");
    readOnly.Values[Engine::kHandlerUpdate] = Flag(false);
    FakeFormat writable = Named(L"7Z");
    writable.Values[Engine::kHandlerUpdate] = Flag(true);
    g_fakeFormats = {readOnly, writable};
    const auto formats = BuildFormatList(kFakeEngine);
    ASSERT_EQ(formats.size(), 2u);
    EXPECT_FALSE(formats[0].Compressor);
    ASSERT_TRUE(formats[1].Compressor);
    hstring compressorName;
    ASSERT_EQ(formats[1].Compressor->get_FormatName(compressorName.put()), S_OK);
    EXPECT_EQ(compressorName.view(), L"7z");
}

// ---- ArchiveInfo statics ---------------------------------------------------------------

TEST(ArchiveInfoStatics, FormatsListsEveryEngineFormat) {
    const auto factory = CreateArchiveInfoFactory();
    hstring className;
    ASSERT_EQ(factory->GetRuntimeClassName(className.put()), S_OK);
    EXPECT_EQ(className.view(), L"Zorvik.__ArchiveInfoActivationFactory");
    com_ptr<IInspectable> instance;
    EXPECT_EQ(factory->ActivateInstance(instance.put()), E_NOTIMPL);

    const auto statics = factory.as<__IArchiveInfoStatics>();
    // The statics interface is the factory's default one.
    EXPECT_EQ(static_cast<IInspectable*>(statics.get()), factory.as<IInspectable>().get());
    com_ptr<ABI::Windows::Foundation::Collections::IVector<IArchiveFormat*>> first, second;
    ASSERT_EQ(statics->get_Formats(first.put()), S_OK);
    ASSERT_EQ(statics->get_Formats(second.put()), S_OK);
    EXPECT_NE(first.get(), second.get());
    EXPECT_TRUE(first.try_as<ABI::Windows::Foundation::Collections::IObservableVector<IArchiveFormat*>>());

    const auto expected = NamesOf(BuildFormatList(Engine::EngineModule::Get()));
    std::vector<std::wstring> names;
    bool zipHasZip = false;
    for (const auto& format : zorvik::rt::to_std_vector(first.get())) {
        HSTRING name = nullptr;
        ASSERT_EQ(format->get_Name(&name), S_OK);
        names.push_back(Take(name));
        hstring formatClass;
        ASSERT_EQ(format->GetRuntimeClassName(formatClass.put()), S_OK);
        EXPECT_EQ(formatClass.view(), L"Zorvik.ArchiveFormat");
        if (names.back() == L"zip") {
            ASSERT_EQ(format->HasExtension(hstring(L"ZIP").get(), &zipHasZip), S_OK);
        }
    }
    EXPECT_EQ(names, expected);
    EXPECT_TRUE(zipHasZip);
}

}  // namespace
}  // namespace Zorvik::Impl::Testing
