// Options turned into the engine's write properties: the exact lists against a recording
// handler, and the same lists accepted by the real engine's writers.
#include <gtest/gtest.h>

#include "engine/EngineModule.h"
#include "model/CompressionProperties.h"
#include "model/CompressorDescription.h"

namespace Zorvik::Testing {
namespace {

using zorvik::rt::com_ptr;
using M = CompressionMethod;
using L = CompressionLevel;
using E = EncryptionMethod;
using Properties = std::vector<std::string>;

// The catalogue's description of a format, found in a fresh catalogue.
com_ptr<ICompressorDescription> Described(std::wstring_view formatName) {
    return Impl::FindCompressorDescription(Impl::CompressorDescriptions(), formatName);
}

// One property as text: strings quoted (null ones as null), UInt32 with a "u", booleans by name.
std::string Render(const wchar_t* name, const PROPVARIANT& value) {
    std::string text = zorvik::rt::to_utf8(name) + "=";
    switch (value.vt) {
    case VT_BSTR: return text + (value.bstrVal ? "\"" + zorvik::rt::to_utf8({value.bstrVal, SysStringLen(value.bstrVal)}) + "\"" : "null");
    case VT_UI4: return text + std::to_string(value.ulVal) + "u";
    case VT_BOOL: return text + (value.boolVal == VARIANT_TRUE ? "true" : value.boolVal == VARIANT_FALSE ? "false" : "bad-bool");
    default: return text + "vt" + std::to_string(value.vt);
    }
}

// An engine output handler that records every SetProperties call, optionally passing it on to
// a real handler, and answers with a chosen result.
struct RecordingHandler final : zorvik::rt::implements<RecordingHandler, Engine::ISetProperties> {
    std::vector<Properties> calls;
    std::vector<HRESULT> engineResults;
    com_ptr<Engine::ISetProperties> engine;
    HRESULT answer = S_OK;

    HRESULT SetProperties(const wchar_t* const* names, const PROPVARIANT* values, std::uint32_t count) override {
        Properties& call = calls.emplace_back();
        for (std::uint32_t i = 0; i < count; ++i) call.push_back(Render(names[i], values[i]));
        if (engine) engineResults.push_back(engine->SetProperties(names, values, count));
        return answer;
    }
};

struct Choice {
    M Method;
    L Level;
    E Cipher;
    bool UseEncryption = false;
    bool EncryptHeaders = false;
    bool IsSolid = false;
};

com_ptr<ICompressionOptions> MakeOptions(const Choice& choice) {
    auto options = zorvik::rt::make<CompressionOptions>(choice.Method, choice.Level, choice.Cipher);
    options->put_UseEncryption(choice.UseEncryption);
    options->put_EncryptHeaders(choice.EncryptHeaders);
    options->put_IsSolid(choice.IsSolid);
    return options;
}

com_ptr<ICompressionOptions> Defaults(ICompressorDescription* description) {
    com_ptr<ICompressionOptions> options;
    EXPECT_EQ(description->get_DefaultOptions(options.put()), S_OK);
    return options;
}

// Applies the options with the catalogue's description of formatName; the one call's list.
Properties Apply(const wchar_t* formatName, ICompressionOptions* options) {
    const auto description = Described(formatName);
    EXPECT_TRUE(description);
    auto handler = zorvik::rt::make<RecordingHandler>();
    Impl::ApplyCompressionOptions(description.get(), options, formatName, handler.get());
    EXPECT_EQ(handler->calls.size(), 1u) << "SetProperties must be called exactly once";
    return handler->calls.empty() ? Properties{} : handler->calls.front();
}
Properties Apply(const wchar_t* formatName, const Choice& choice) { return Apply(formatName, MakeOptions(choice).get()); }

TEST(CompressionProperties, StoreLevelOrNoMethodLeavesTheMethodOut) {
    EXPECT_EQ(Apply(L"7z", {M::LZMA, L::Store, E::AES256}), (Properties{"x=0u", "he=false", "s=false"}));
    EXPECT_EQ(Apply(L"Zip", {M::LZMA, L::Store, E::AES256}), (Properties{"x=0u"}));
    EXPECT_EQ(Apply(L"Zip", {static_cast<M>(-1), L::Ultra, E::AES256}), (Properties{"x=9u"}));
    EXPECT_EQ(Apply(L"Zip", {M::Copy, L::Fastest, E::AES256}), (Properties{"m=\"Copy\"", "x=1u"}));
    EXPECT_EQ(Apply(L"Zip", {M::Deflate64, L::Maximum, E::AES256}), (Properties{"m=\"Deflate64\"", "x=7u"}));
}

TEST(CompressionProperties, ZipGetsItsCipherOnlyWhenEncryptionIsUsed) {
    EXPECT_EQ(Apply(L"Zip", {M::Deflate, L::Normal, E::ZipCrypto, true}), (Properties{"m=\"Deflate\"", "x=5u", "em=\"ZipCrypto\""}));
    EXPECT_EQ(Apply(L"Zip", {M::Deflate, L::Normal, E::AES256, true}), (Properties{"m=\"Deflate\"", "x=5u", "em=\"AES256\""}));
    EXPECT_EQ(Apply(L"Zip", {M::Deflate, L::Normal, E::AES256, false}), (Properties{"m=\"Deflate\"", "x=5u"}));
    EXPECT_EQ(Apply(L"Zip", {M::Deflate, L::Normal, static_cast<E>(-1), true}), (Properties{"m=\"Deflate\"", "x=5u"}));
    // Header encryption and solid mode are not Zip's: its switches never reach the engine.
    EXPECT_EQ(Apply(L"Zip", {M::PPMd, L::Fast, E::AES256, true, true, true}), (Properties{"m=\"PPMd\"", "x=3u", "em=\"AES256\""}));
}

TEST(CompressionProperties, SevenZipNeverGetsACipherAndAlwaysGetsItsSwitches) {
    EXPECT_EQ(Apply(L"7z", {M::LZMA2, L::Ultra, E::AES256, true}), (Properties{"0=\"LZMA2\"", "x=9u", "he=false", "s=false"}));
    EXPECT_EQ(Apply(L"7z", {M::PPMd, L::Fast, E::AES256, true, true, true}), (Properties{"0=\"PPMd\"", "x=3u", "he=true", "s=true"}));
    // The format name decides the method's property name, whatever its case.
    const auto sevenZip = Described(L"7z");
    auto handler = zorvik::rt::make<RecordingHandler>();
    Impl::ApplyCompressionOptions(sevenZip.get(), MakeOptions({M::BZip2, L::Normal, E::AES256}).get(), L"7Z", handler.get());
    ASSERT_EQ(handler->calls.size(), 1u);
    EXPECT_EQ(handler->calls[0].front(), "0=\"BZip2\"");
}

TEST(CompressionProperties, ValuesWithoutAnEngineNameGoAsEmptyNotNullStrings) {
    EXPECT_EQ(Apply(L"Zip", {static_cast<M>(42), L::Normal, static_cast<E>(7), true}), (Properties{"m=\"\"", "x=5u", "em=\"\""}));
    EXPECT_EQ(Apply(L"GZip", {M::Deflate, static_cast<L>(4), E::AES256}), (Properties{"m=\"Deflate\"", "x=4u"}));
}

TEST(CompressionProperties, NothingIsSetWithoutDescriptionOrOptionsAndTheEngineAnswerIsIgnored) {
    const auto zip = Described(L"Zip");
    const auto options = MakeOptions({M::Deflate, L::Normal, E::AES256});
    auto handler = zorvik::rt::make<RecordingHandler>();
    Impl::ApplyCompressionOptions(nullptr, options.get(), L"Zip", handler.get());
    Impl::ApplyCompressionOptions(zip.get(), nullptr, L"Zip", handler.get());
    EXPECT_TRUE(handler->calls.empty());

    handler->answer = E_INVALIDARG;
    EXPECT_NO_THROW(Impl::ApplyCompressionOptions(zip.get(), options.get(), L"Zip", handler.get()));
    EXPECT_EQ(handler->calls.size(), 1u);
    EXPECT_NO_THROW(Impl::ApplyCompressionOptions(zip.get(), options.get(), L"Zip", nullptr));
}

// The engine's writer for a format, found by name in its format list.
com_ptr<Engine::ISetProperties> EngineWriter(std::wstring_view formatName) {
    const auto& engine = Engine::EngineModule::Get();
    std::uint32_t count = 0;
    EXPECT_EQ(engine.GetNumberOfFormats(&count), S_OK);
    for (std::uint32_t i = 0; i < count; ++i) {
        zorvik::rt::prop_variant name, classId;
        engine.GetHandlerProperty2(i, Engine::kHandlerName, name.put());
        if (name.as_string() != formatName) continue;
        engine.GetHandlerProperty2(i, Engine::kHandlerClassID, classId.put());
        GUID id{};
        if (classId.type() != VT_BSTR || SysStringByteLen(classId.get().bstrVal) != sizeof(GUID)) return nullptr;
        std::memcpy(&id, classId.get().bstrVal, sizeof(GUID));
        com_ptr<Engine::IOutArchive> writer;
        if (FAILED(engine.CreateObject(&id, &Engine::IOutArchive::iid, writer.put_void()))) return nullptr;
        return writer.try_as<Engine::ISetProperties>();
    }
    return nullptr;
}

TEST(CompressionProperties, TheEngineAcceptsEveryChoiceTheCatalogueOffers) {
    struct Writer {
        const wchar_t* Catalogue;
        const wchar_t* Engine;
        Properties Defaults;  // what the format's default options become
    };
    const Writer writers[] = {
        {L"Zip", L"zip", {"m=\"Deflate\"", "x=5u"}},
        {L"7z", L"7z", {"0=\"LZMA\"", "x=5u", "he=false", "s=false"}},
        {L"GZip", L"gzip", {"m=\"Deflate\"", "x=5u"}},
        {L"BZip2", L"bzip2", {"m=\"BZip2\"", "x=5u"}},
        {L"Tar", L"tar", {"x=0u"}},
        {L"xz", L"xz", {"m=\"LZMA2\"", "x=5u"}},
    };
    for (const auto& [catalogueName, engineName, defaults] : writers) {
        SCOPED_TRACE(zorvik::rt::to_utf8(catalogueName));
        const auto description = Described(catalogueName);
        ASSERT_TRUE(description);
        auto handler = zorvik::rt::make<RecordingHandler>();
        handler->engine = EngineWriter(engineName);
        ASSERT_TRUE(handler->engine) << "the engine has no writer for this format";
        Impl::ApplyCompressionOptions(description.get(), Defaults(description.get()).get(), catalogueName, handler.get());
        ASSERT_EQ(handler->calls.size(), 1u);
        EXPECT_EQ(handler->calls[0], defaults);

        // Every offered method at every offered level, with every offered cipher in use and
        // both switches on: the widest property lists the component can produce.
        const auto options = Defaults(description.get());
        options->put_UseEncryption(true);
        options->put_EncryptHeaders(true);
        options->put_IsSolid(true);
        std::uint32_t methodCount = 0, levelCount = 0, cipherCount = 0;
        M* methods = nullptr;
        L* levels = nullptr;
        E* ciphers = nullptr;
        ASSERT_EQ(description->get_CompressionMethods(&methodCount, &methods), S_OK);
        ASSERT_EQ(description->get_CompressionLevels(&levelCount, &levels), S_OK);
        ASSERT_EQ(description->get_EncryptionMethods(&cipherCount, &ciphers), S_OK);
        std::vector<M> methodList(methods, methods + methodCount);
        if (methodList.empty()) methodList.push_back(static_cast<M>(-1));
        std::vector<E> cipherList(ciphers, ciphers + cipherCount);
        if (cipherList.empty()) cipherList.push_back(static_cast<E>(-1));
        for (M method : methodList)
            for (L level : std::vector<L>(levels, levels + levelCount))
                for (E cipher : cipherList) {
                    options->put_CompressionMethod(method);
                    options->put_CompressionLevel(level);
                    options->put_EncryptionMethod(cipher);
                    Impl::ApplyCompressionOptions(description.get(), options.get(), catalogueName, handler.get());
                }
        CoTaskMemFree(methods);
        CoTaskMemFree(levels);
        CoTaskMemFree(ciphers);
        ASSERT_EQ(handler->engineResults.size(), handler->calls.size());
        for (std::size_t i = 0; i < handler->calls.size(); ++i)
            EXPECT_EQ(handler->engineResults[i], S_OK) << ::testing::PrintToString(handler->calls[i]);
    }
}

TEST(CompressionProperties, TheEngineSurvivesAMethodWithoutAName) {
    const auto sevenZip = Described(L"7z");
    auto handler = zorvik::rt::make<RecordingHandler>();
    handler->engine = EngineWriter(L"7z");
    ASSERT_TRUE(handler->engine);
    Impl::ApplyCompressionOptions(sevenZip.get(), MakeOptions({static_cast<M>(42), L::Normal, E::AES256}).get(), L"7z", handler.get());
    EXPECT_EQ(handler->engineResults.size(), 1u);
}

}  // namespace
}  // namespace Zorvik::Testing
