#include "model/CompressionProperties.h"

#include <boost/algorithm/string/predicate.hpp>
#include <locale>
#include <vector>

#include "engine/EngineInterfaces.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Impl {

namespace {

// Parallel name and value lists as SetProperties takes them; owns the values' strings.
class PropertyList {
public:
    PropertyList() = default;
    PropertyList(const PropertyList&) = delete;
    PropertyList& operator=(const PropertyList&) = delete;
    ~PropertyList() {
        for (auto& value : values_) PropVariantClear(&value);
    }

    // A value without an engine name goes as an empty string: by OLE rules that equals the
    // null string, and the engine reads the text without checking it for null.
    void AddString(const wchar_t* name, std::wstring_view text) {
        zorvik::rt::bstr value(text);
        PROPVARIANT& slot = Add(name);
        slot.vt = VT_BSTR;
        slot.bstrVal = value.detach();
    }
    void AddUInt32(const wchar_t* name, std::uint32_t number) {
        PROPVARIANT& slot = Add(name);
        slot.vt = VT_UI4;
        slot.ulVal = number;
    }
    void AddBool(const wchar_t* name, bool flag) {
        PROPVARIANT& slot = Add(name);
        slot.vt = VT_BOOL;
        slot.boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
    }

    void SetOn(Engine::ISetProperties& target) const noexcept {
        target.SetProperties(names_.data(), values_.data(), static_cast<std::uint32_t>(names_.size()));
    }

private:
    PROPVARIANT& Add(const wchar_t* name) {
        names_.reserve(names_.size() + 1);
        values_.push_back(PROPVARIANT{});
        names_.push_back(name);
        return values_.back();
    }

    std::vector<const wchar_t*> names_;
    std::vector<PROPVARIANT> values_;
};

template <typename T, typename Interface>
T Get(Interface* source, HRESULT (Interface::*getter)(T*)) {
    T value{};
    zorvik::rt::check_hresult((source->*getter)(&value));
    return value;
}

std::uint32_t CipherCount(ICompressorDescription* description) {
    std::uint32_t count = 0;
    EncryptionMethod* ciphers = nullptr;
    zorvik::rt::check_hresult(description->get_EncryptionMethods(&count, &ciphers));
    CoTaskMemFree(ciphers);
    return count;
}

}  // namespace

std::wstring_view EngineMethodName(CompressionMethod method) noexcept {
    switch (method) {
    case CompressionMethod::Copy: return L"Copy";
    case CompressionMethod::LZMA: return L"LZMA";
    case CompressionMethod::LZMA2: return L"LZMA2";
    case CompressionMethod::PPMd: return L"PPMd";
    case CompressionMethod::BZip2: return L"BZip2";
    case CompressionMethod::Deflate: return L"Deflate";
    case CompressionMethod::Deflate64: return L"Deflate64";
    }
    return {};
}

std::wstring_view EngineCipherName(EncryptionMethod cipher) noexcept {
    switch (cipher) {
    case EncryptionMethod::ZipCrypto: return L"ZipCrypto";
    case EncryptionMethod::AES256: return L"AES256";
    }
    return {};
}

void ApplyCompressionOptions(ICompressorDescription* description, ICompressionOptions* options, std::wstring_view formatName,
                             Engine::ISetProperties* outputHandler) {
    if (!description || !options) return;
    constexpr auto kNoMethod = static_cast<CompressionMethod>(-1);
    constexpr auto kNoCipher = static_cast<EncryptionMethod>(-1);

    PropertyList properties;
    const auto method = Get(options, &ICompressionOptions::get_CompressionMethod);
    const auto level = Get(options, &ICompressionOptions::get_CompressionLevel);
    if (level != CompressionLevel::Store && method != kNoMethod) {
        // The 7z handler takes the method of its first coder as "0".
        const wchar_t* name = boost::algorithm::iequals(formatName, std::wstring_view(L"7z"), std::locale()) ? L"0" : L"m";
        properties.AddString(name, EngineMethodName(method));
    }
    properties.AddUInt32(L"x", static_cast<std::uint32_t>(level));

    // A format that offers a single cipher is left to the engine's choice.
    if (Get(description, &ICompressorDescription::get_SupportsEncryption) && CipherCount(description) >= 2 &&
        Get(options, &ICompressionOptions::get_UseEncryption)) {
        const auto cipher = Get(options, &ICompressionOptions::get_EncryptionMethod);
        if (cipher != kNoCipher) properties.AddString(L"em", EngineCipherName(cipher));
    }
    if (Get(description, &ICompressorDescription::get_SupportsHeaderEncryption))
        properties.AddBool(L"he", Get(options, &ICompressionOptions::get_EncryptHeaders));
    if (Get(description, &ICompressorDescription::get_SupportsSolid))
        properties.AddBool(L"s", Get(options, &ICompressionOptions::get_IsSolid));

    if (outputHandler) properties.SetOn(*outputHandler);
}

}  // namespace Zorvik::Impl
