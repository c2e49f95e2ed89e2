// The catalogue of writable formats, the options objects and their factories, as callers see
// them through the ABI.
#include <gtest/gtest.h>

#include "base/ActivationFactory.h"
#include "model/CompressionOptions.h"
#include "model/CompressorDescription.h"

namespace Zorvik::Testing {
namespace {

using zorvik::rt::com_ptr;
using zorvik::rt::hstring;
using M = CompressionMethod;
using L = CompressionLevel;
using E = EncryptionMethod;
constexpr auto kNoMethod = static_cast<M>(-1);
constexpr auto kNoCipher = static_cast<E>(-1);

// The catalogue's description of a format, found in a fresh catalogue.
com_ptr<ICompressorDescription> Described(std::wstring_view formatName) {
    return Impl::FindCompressorDescription(Impl::CompressorDescriptions(), formatName);
}

template <typename T>
OptionalArray<T> ReadArray(ICompressorDescription* description, HRESULT (ICompressorDescription::*getter)(std::uint32_t*, T**)) {
    std::uint32_t count = 0;
    T* values = nullptr;
    EXPECT_EQ((description->*getter)(&count, &values), S_OK);
    if (!values) {
        EXPECT_EQ(count, 0u);
        return std::nullopt;
    }
    std::vector<T> result(values, values + count);
    CoTaskMemFree(values);
    return result;
}

template <typename T, typename Interface>
T Read(Interface* object, HRESULT (Interface::*getter)(T*)) {
    T value{};
    EXPECT_EQ((object->*getter)(&value), S_OK);
    return value;
}

struct OptionValues {
    M Method;
    L Level;
    E Cipher;
    bool UseEncryption = false;
    bool EncryptHeaders = false;
    bool IsSolid = false;
    bool operator==(const OptionValues&) const = default;
};

OptionValues ReadOptions(ICompressionOptions* options) {
    return {Read(options, &ICompressionOptions::get_CompressionMethod), Read(options, &ICompressionOptions::get_CompressionLevel),
            Read(options, &ICompressionOptions::get_EncryptionMethod),  Read(options, &ICompressionOptions::get_UseEncryption),
            Read(options, &ICompressionOptions::get_EncryptHeaders),    Read(options, &ICompressionOptions::get_IsSolid)};
}

struct DescriptionValues {
    std::wstring FormatName;
    OptionalArray<M> Methods;
    OptionalArray<L> Levels;
    OptionalArray<E> Ciphers;
    std::array<bool, 6> Flags;  // SupportsEncryption, B, SupportsSolid, SupportsHeaderEncryption, E, F
    OptionValues Defaults;
    bool operator==(const DescriptionValues&) const = default;
};

DescriptionValues ReadDescription(ICompressorDescription* d) {
    hstring name;
    EXPECT_EQ(d->get_FormatName(name.put()), S_OK);
    com_ptr<ICompressionOptions> defaults;
    EXPECT_EQ(d->get_DefaultOptions(defaults.put()), S_OK);
    using I = ICompressorDescription;
    return {std::wstring(name.view()),
            ReadArray(d, &I::get_CompressionMethods),
            ReadArray(d, &I::get_CompressionLevels),
            ReadArray(d, &I::get_EncryptionMethods),
            {Read(d, &I::get_SupportsEncryption), Read(d, &I::get_CapabilityB), Read(d, &I::get_SupportsSolid),
             Read(d, &I::get_SupportsHeaderEncryption), Read(d, &I::get_CapabilityE), Read(d, &I::get_CapabilityF)},
            ReadOptions(defaults.get())};
}

std::wstring ClassName(IInspectable* object) {
    hstring name;
    EXPECT_EQ(object->GetRuntimeClassName(name.put()), S_OK);
    return std::wstring(name.view());
}

// Every description handed out by the statics, released again before returning.
std::vector<com_ptr<ICompressorDescription>> FromStatics(__ICompressorDescriptionStatics* statics) {
    std::uint32_t count = 0;
    ICompressorDescription** array = nullptr;
    EXPECT_EQ(statics->GetCompressorDescriptions(&count, &array), S_OK);
    std::vector<com_ptr<ICompressorDescription>> result;
    for (std::uint32_t i = 0; i < count; ++i) result.emplace_back().attach(array[i]);
    CoTaskMemFree(array);
    return result;
}

com_ptr<__ICompressorDescriptionStatics> Statics() {
    return Impl::CreateCompressorDescriptionFactory().as<__ICompressorDescriptionStatics>();
}

TEST(CompressorCatalogue, ListsTheSixWritableFormatsWithTheirChoicesAndDefaults) {
    const std::vector<L> all{L::Store, L::Fastest, L::Fast, L::Normal, L::Maximum, L::Ultra};
    const std::vector<L> compressing{L::Fastest, L::Fast, L::Normal, L::Maximum, L::Ultra};
    const std::array<bool, 6> none{};
    const std::vector<DescriptionValues> expected{
        {L"Zip",
         std::vector{M::Deflate, M::Deflate64, M::BZip2, M::LZMA, M::PPMd},
         all,
         std::vector{E::ZipCrypto, E::AES256},
         {true, true, false, false, false, false},
         {M::Deflate, L::Normal, E::AES256}},
        {L"7z",
         std::vector{M::LZMA, M::LZMA2, M::PPMd, M::BZip2},
         all,
         std::vector{E::AES256},
         {true, true, true, true, true, false},
         {M::LZMA, L::Normal, E::AES256}},
        {L"GZip",
         std::vector{M::Deflate},
         std::vector{L::Fastest, L::Normal, L::Maximum, L::Ultra},
         std::nullopt,
         none,
         {M::Deflate, L::Normal, kNoCipher}},
        {L"BZip2", std::vector{M::BZip2}, compressing, std::nullopt, none, {M::BZip2, L::Normal, kNoCipher}},
        {L"Tar", std::vector<M>{}, std::vector{L::Store}, std::vector<E>{}, none, {kNoMethod, L::Store, kNoCipher}},
        {L"xz", std::vector{M::LZMA2}, compressing, std::nullopt, none, {M::LZMA2, L::Normal, kNoCipher}},
    };

    const auto descriptions = FromStatics(Statics().get());
    ASSERT_EQ(descriptions.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(zorvik::rt::to_utf8(expected[i].FormatName));
        EXPECT_TRUE(ReadDescription(descriptions[i].get()) == expected[i]);
        EXPECT_EQ(ClassName(descriptions[i].get()), L"Zorvik.CompressorDescription");
    }
}

TEST(CompressorCatalogue, EveryCallBuildsNewObjectsWithEqualContents) {
    const auto baseline = Impl::LiveObjectCount().load();
    {
        const auto statics = Statics();
        const auto first = FromStatics(statics.get());
        const auto second = FromStatics(statics.get());
        const auto internal = Impl::CompressorDescriptions();
        ASSERT_EQ(first.size(), second.size());
        ASSERT_EQ(first.size(), internal.size());
        for (std::size_t i = 0; i < first.size(); ++i) {
            EXPECT_NE(first[i].get(), second[i].get());
            EXPECT_TRUE(ReadDescription(first[i].get()) == ReadDescription(second[i].get()));
            EXPECT_TRUE(ReadDescription(first[i].get()) == ReadDescription(internal[i].get()));
        }
    }
    EXPECT_EQ(Impl::LiveObjectCount().load(), baseline) << "an object handed out was leaked";
}

TEST(CompressorCatalogue, FindsADescriptionByFormatNameIgnoringCase) {
    for (const wchar_t* name : {L"zip", L"7Z", L"gzip", L"BZIP2", L"tar", L"XZ"}) {
        const auto found = Described(name);
        ASSERT_TRUE(found) << zorvik::rt::to_utf8(name);
        hstring formatName;
        ASSERT_EQ(found->get_FormatName(formatName.put()), S_OK);
        EXPECT_EQ(formatName.size(), std::wstring_view(name).size());
    }
    EXPECT_FALSE(Described(L"Rar"));
    EXPECT_FALSE(Described(L"7"));
    EXPECT_FALSE(Described(L""));
}

// Options of a caller's own: none of its values is a default, and it records the order its
// getters are called in.
struct CallerOptions final : zorvik::rt::implements<CallerOptions, ICompressionOptions> {
    std::vector<std::string> calls;
    HRESULT failWith = S_OK;

    HRESULT Answer(const char* member) {
        calls.push_back(member);
        return failWith;
    }
    HRESULT get_CompressionMethod(M* v) override { return *v = M::BZip2, Answer("method"); }
    HRESULT get_CompressionLevel(L* v) override { return *v = L::Fast, Answer("level"); }
    HRESULT get_EncryptionMethod(E* v) override { return *v = E::ZipCrypto, Answer("cipher"); }
    HRESULT get_UseEncryption(bool* v) override { return *v = true, Answer("useEncryption"); }
    HRESULT get_EncryptHeaders(bool* v) override { return *v = true, Answer("encryptHeaders"); }
    HRESULT get_IsSolid(bool* v) override { return *v = true, Answer("isSolid"); }
    HRESULT put_CompressionMethod(M) override { return E_NOTIMPL; }
    HRESULT put_CompressionLevel(L) override { return E_NOTIMPL; }
    HRESULT put_EncryptionMethod(E) override { return E_NOTIMPL; }
    HRESULT put_UseEncryption(bool) override { return E_NOTIMPL; }
    HRESULT put_EncryptHeaders(bool) override { return E_NOTIMPL; }
    HRESULT put_IsSolid(bool) override { return E_NOTIMPL; }
};

TEST(CompressorCatalogue, DefaultOptionsAreANewCopyOnEveryCall) {
    const auto zip = Described(L"Zip");
    ASSERT_TRUE(zip);
    com_ptr<ICompressionOptions> first, second;
    ASSERT_EQ(zip->get_DefaultOptions(first.put()), S_OK);
    ASSERT_EQ(zip->get_DefaultOptions(second.put()), S_OK);
    EXPECT_NE(first.get(), second.get());
    EXPECT_EQ(ClassName(first.get()), L"Zorvik.CompressionOptions");

    first->put_CompressionMethod(M::PPMd);
    first->put_CompressionLevel(L::Ultra);
    first->put_EncryptionMethod(E::ZipCrypto);
    first->put_UseEncryption(true);
    first->put_EncryptHeaders(true);
    first->put_IsSolid(true);
    const OptionValues defaults{M::Deflate, L::Normal, E::AES256};
    EXPECT_TRUE(ReadOptions(second.get()) == defaults);
    com_ptr<ICompressionOptions> third;
    ASSERT_EQ(zip->get_DefaultOptions(third.put()), S_OK);
    EXPECT_TRUE(ReadOptions(third.get()) == defaults);

    // A copy takes every member, through the getters in slot order, and raises a failing one.
    auto source = zorvik::rt::make<CallerOptions>();
    const auto copy = CompressionOptions::CopyOf(source.get());
    EXPECT_EQ(source->calls, (std::vector<std::string>{"method", "level", "cipher", "useEncryption", "encryptHeaders", "isSolid"}));
    EXPECT_TRUE(ReadOptions(copy.get()) == (OptionValues{M::BZip2, L::Fast, E::ZipCrypto, true, true, true}));
    source->failWith = E_ACCESSDENIED;
    try {
        (void)CompressionOptions::CopyOf(source.get());
        ADD_FAILURE() << "a failing getter was ignored";
    } catch (const zorvik::rt::hresult_error& error) {
        EXPECT_EQ(error.code(), E_ACCESSDENIED);
    }
}

TEST(CompressionFactories, NeitherClassIsActivatableAndTheStaticsAreTheDefaultInterface) {
    const auto descriptions = Impl::CreateCompressorDescriptionFactory();
    EXPECT_EQ(ClassName(descriptions.get()), L"Zorvik.__CompressorDescriptionActivationFactory");
    com_ptr<IInspectable> instance;
    EXPECT_EQ(descriptions->ActivateInstance(instance.put()), E_NOTIMPL);
    EXPECT_FALSE(instance);
    const auto statics = descriptions.as<__ICompressorDescriptionStatics>();
    EXPECT_EQ(FromStatics(statics.get()).size(), 6u);
    EXPECT_EQ(descriptions.as<IInspectable>().get(), static_cast<IInspectable*>(statics.get()));
    std::uint32_t count = 0;
    GUID* iids = nullptr;
    ASSERT_EQ(descriptions->GetIids(&count, &iids), S_OK);
    ASSERT_GE(count, 1u);
    EXPECT_TRUE(iids[0] == __ICompressorDescriptionStatics::iid);
    CoTaskMemFree(iids);

    com_ptr<IActivationFactory> options = zorvik::rt::make<Impl::ActivationFactory<CompressionOptions>>();
    EXPECT_EQ(ClassName(options.get()), L"Zorvik.__CompressionOptionsActivationFactory");
    EXPECT_EQ(options->ActivateInstance(instance.put()), E_NOTIMPL);
    EXPECT_FALSE(instance);
}

}  // namespace
}  // namespace Zorvik::Testing
