// The CompressorDescription runtime class: what may be chosen when writing one format, and the
// fixed catalogue of writable formats behind its static member.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ComponentObject.h"
#include "model/CompressionOptions.h"
#include "zorvik/Compression.h"

namespace Zorvik {

// An array member: std::nullopt reaches callers as no array, an empty vector as length 0.
template <typename T>
using OptionalArray = std::optional<std::vector<T>>;

struct CompressorCapabilities {
    bool SupportsEncryption = false;
    bool CapabilityB = false;
    bool SupportsSolid = false;
    bool SupportsHeaderEncryption = false;
    bool CapabilityE = false;
    bool CapabilityF = false;
};

struct DefaultCompressionChoice {
    CompressionMethod Method;
    CompressionLevel Level;
    EncryptionMethod Cipher;
};

class CompressorDescription final : public Impl::ComponentObject<CompressorDescription, ICompressorDescription> {
public:
    static constexpr const char* runtime_class_name = "Zorvik.CompressorDescription";

    CompressorDescription(std::wstring formatName, OptionalArray<CompressionMethod> methods, OptionalArray<CompressionLevel> levels,
                          OptionalArray<EncryptionMethod> ciphers, CompressorCapabilities capabilities, DefaultCompressionChoice defaults);

    HRESULT get_FormatName(HSTRING* value) override;
    HRESULT get_CompressionMethods(std::uint32_t* count, CompressionMethod** values) override;
    HRESULT get_CompressionLevels(std::uint32_t* count, CompressionLevel** values) override;
    HRESULT get_EncryptionMethods(std::uint32_t* count, EncryptionMethod** values) override;
    HRESULT get_SupportsEncryption(bool* value) override;
    HRESULT get_CapabilityB(bool* value) override;
    HRESULT get_SupportsSolid(bool* value) override;
    HRESULT get_SupportsHeaderEncryption(bool* value) override;
    HRESULT get_CapabilityE(bool* value) override;
    HRESULT get_CapabilityF(bool* value) override;
    HRESULT get_DefaultOptions(ICompressionOptions** value) override;

private:
    const std::wstring formatName_;
    const OptionalArray<CompressionMethod> methods_;
    const OptionalArray<CompressionLevel> levels_;
    const OptionalArray<EncryptionMethod> ciphers_;
    const CompressorCapabilities capabilities_;
    // Never handed out: callers get copies.
    const zorvik::rt::com_ptr<CompressionOptions> defaults_;
};

// Its factory: not activatable; the statics interface is the default interface.
class CompressorDescriptionFactory final
    : public Impl::ComponentObject<CompressorDescriptionFactory, __ICompressorDescriptionStatics, IActivationFactory> {
public:
    static constexpr const char* runtime_class_name = "Zorvik.__CompressorDescriptionActivationFactory";

    HRESULT GetCompressorDescriptions(std::uint32_t* count, ICompressorDescription*** descriptions) override;
    HRESULT ActivateInstance(IInspectable** instance) override;
};

}  // namespace Zorvik

namespace Zorvik::Impl {

// The catalogue, built afresh on every call, in its fixed order.
std::vector<zorvik::rt::com_ptr<ICompressorDescription>> CompressorDescriptions();

// The first description whose FormatName equals formatName, compared case-insensitively with
// the global locale; null when none does.
zorvik::rt::com_ptr<ICompressorDescription> FindCompressorDescription(
    const std::vector<zorvik::rt::com_ptr<ICompressorDescription>>& descriptions, std::wstring_view formatName);

// The registration row's factory function for "Zorvik.CompressorDescription".
zorvik::rt::com_ptr<IActivationFactory> CreateCompressorDescriptionFactory();

}  // namespace Zorvik::Impl
