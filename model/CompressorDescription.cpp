#include "model/CompressorDescription.h"

#include <algorithm>
#include <boost/algorithm/string/predicate.hpp>
#include <cstring>
#include <locale>

#include "base/OutParameters.h"

namespace Zorvik {

namespace {
using zorvik::rt::com_ptr;

// Hands an array member to a caller in task memory; a null array is (0, nullptr), an empty
// one a valid pointer with count 0.
template <typename T>
HRESULT CopyArrayOut(const OptionalArray<T>& source, std::uint32_t* count, T** values) noexcept {
    if (!count || !values) return E_POINTER;
    *count = 0;
    *values = nullptr;
    if (!source) return S_OK;
    // At least one byte, so that an empty array is not mistaken for a null one.
    auto* copy = static_cast<T*>(CoTaskMemAlloc(std::max<std::size_t>(1, source->size() * sizeof(T))));
    if (!copy) return E_OUTOFMEMORY;
    std::copy(source->begin(), source->end(), copy);
    *count = static_cast<std::uint32_t>(source->size());
    *values = copy;
    return S_OK;
}

com_ptr<ICompressorDescription> Describe(std::wstring formatName, OptionalArray<CompressionMethod> methods,
                                         OptionalArray<CompressionLevel> levels, OptionalArray<EncryptionMethod> ciphers,
                                         CompressorCapabilities capabilities, DefaultCompressionChoice defaults) {
    return zorvik::rt::make<CompressorDescription>(std::move(formatName), std::move(methods), std::move(levels), std::move(ciphers),
                                                   capabilities, defaults);
}
}  // namespace

CompressorDescription::CompressorDescription(std::wstring formatName, OptionalArray<CompressionMethod> methods,
                                             OptionalArray<CompressionLevel> levels, OptionalArray<EncryptionMethod> ciphers,
                                             CompressorCapabilities capabilities, DefaultCompressionChoice defaults)
    : formatName_(std::move(formatName)),
      methods_(std::move(methods)),
      levels_(std::move(levels)),
      ciphers_(std::move(ciphers)),
      capabilities_(capabilities),
      defaults_(zorvik::rt::make<CompressionOptions>(defaults.Method, defaults.Level, defaults.Cipher)) {}

HRESULT CompressorDescription::get_FormatName(HSTRING* value) {
    return Impl::GiveMade(value, [&] { return zorvik::rt::hstring(formatName_).detach(); });
}

HRESULT CompressorDescription::get_CompressionMethods(std::uint32_t* count, CompressionMethod** values) {
    return CopyArrayOut(methods_, count, values);
}
HRESULT CompressorDescription::get_CompressionLevels(std::uint32_t* count, CompressionLevel** values) {
    return CopyArrayOut(levels_, count, values);
}
HRESULT CompressorDescription::get_EncryptionMethods(std::uint32_t* count, EncryptionMethod** values) {
    return CopyArrayOut(ciphers_, count, values);
}

HRESULT CompressorDescription::get_SupportsEncryption(bool* value) { return Impl::GiveValue(capabilities_.SupportsEncryption, value); }
HRESULT CompressorDescription::get_CapabilityB(bool* value) { return Impl::GiveValue(capabilities_.CapabilityB, value); }
HRESULT CompressorDescription::get_SupportsSolid(bool* value) { return Impl::GiveValue(capabilities_.SupportsSolid, value); }
HRESULT CompressorDescription::get_SupportsHeaderEncryption(bool* value) {
    return Impl::GiveValue(capabilities_.SupportsHeaderEncryption, value);
}
HRESULT CompressorDescription::get_CapabilityE(bool* value) { return Impl::GiveValue(capabilities_.CapabilityE, value); }
HRESULT CompressorDescription::get_CapabilityF(bool* value) { return Impl::GiveValue(capabilities_.CapabilityF, value); }

HRESULT CompressorDescription::get_DefaultOptions(ICompressionOptions** value) {
    return Impl::GiveMade(value, [&] { return zorvik::rt::detach_as<ICompressionOptions>(CompressionOptions::CopyOf(defaults_.get())); });
}

HRESULT CompressorDescriptionFactory::GetCompressorDescriptions(std::uint32_t* count, ICompressorDescription*** descriptions) {
    if (!count || !descriptions) return E_POINTER;
    *count = 0;
    *descriptions = nullptr;
    return zorvik::rt::boundary([&] {
        auto all = Impl::CompressorDescriptions();
        auto* array = static_cast<ICompressorDescription**>(CoTaskMemAlloc(all.size() * sizeof(ICompressorDescription*)));
        if (!array) throw zorvik::rt::out_of_memory_error();
        for (std::size_t i = 0; i < all.size(); ++i) array[i] = all[i].detach();
        *count = static_cast<std::uint32_t>(all.size());
        *descriptions = array;
    });
}

HRESULT CompressorDescriptionFactory::ActivateInstance(IInspectable** instance) {
    if (!instance) return E_POINTER;
    *instance = nullptr;
    return E_NOTIMPL;
}

}  // namespace Zorvik

namespace Zorvik::Impl {

std::vector<zorvik::rt::com_ptr<ICompressorDescription>> CompressorDescriptions() {
    using M = CompressionMethod;
    using L = CompressionLevel;
    using E = EncryptionMethod;
    constexpr auto kNone = static_cast<M>(-1);
    constexpr auto kNoCipher = static_cast<E>(-1);
    const std::vector<L> allLevels{L::Store, L::Fastest, L::Fast, L::Normal, L::Maximum, L::Ultra};
    const std::vector<L> compressingLevels{L::Fastest, L::Fast, L::Normal, L::Maximum, L::Ultra};
    const CompressorCapabilities none{};

    std::vector<zorvik::rt::com_ptr<ICompressorDescription>> all;
    all.push_back(Describe(L"Zip", std::vector{M::Deflate, M::Deflate64, M::BZip2, M::LZMA, M::PPMd}, allLevels,
                           std::vector{E::ZipCrypto, E::AES256}, {true, true, false, false, false, false},
                           {M::Deflate, L::Normal, E::AES256}));
    all.push_back(Describe(L"7z", std::vector{M::LZMA, M::LZMA2, M::PPMd, M::BZip2}, allLevels, std::vector{E::AES256},
                           {true, true, true, true, true, false}, {M::LZMA, L::Normal, E::AES256}));
    all.push_back(Describe(L"GZip", std::vector{M::Deflate}, std::vector{L::Fastest, L::Normal, L::Maximum, L::Ultra}, std::nullopt, none,
                           {M::Deflate, L::Normal, kNoCipher}));
    all.push_back(Describe(L"BZip2", std::vector{M::BZip2}, compressingLevels, std::nullopt, none, {M::BZip2, L::Normal, kNoCipher}));
    all.push_back(Describe(L"Tar", std::vector<M>{}, std::vector{L::Store}, std::vector<E>{}, none, {kNone, L::Store, kNoCipher}));
    all.push_back(Describe(L"xz", std::vector{M::LZMA2}, compressingLevels, std::nullopt, none, {M::LZMA2, L::Normal, kNoCipher}));
    return all;
}

zorvik::rt::com_ptr<ICompressorDescription> FindCompressorDescription(
    const std::vector<zorvik::rt::com_ptr<ICompressorDescription>>& descriptions, std::wstring_view formatName) {
    for (const auto& description : descriptions) {
        zorvik::rt::hstring name;
        zorvik::rt::check_hresult(description->get_FormatName(name.put()));
        if (boost::algorithm::iequals(name.view(), formatName, std::locale())) return description;
    }
    return nullptr;
}

zorvik::rt::com_ptr<IActivationFactory> CreateCompressorDescriptionFactory() { return zorvik::rt::make<CompressorDescriptionFactory>(); }

}  // namespace Zorvik::Impl
