// The component's public ABI: compression choices and the catalogue of writable formats.
#pragma once

#include "zorvik/runtime/base.h"

namespace Zorvik {

// The method and cipher fields also hold -1 for "none chosen".
enum class CompressionMethod : std::int32_t { Copy = 0, LZMA = 1, LZMA2 = 2, PPMd = 3, BZip2 = 4, Deflate = 5, Deflate64 = 6 };
enum class CompressionLevel : std::int32_t { Store = 0, Fastest = 1, Fast = 3, Normal = 5, Maximum = 7, Ultra = 9 };
enum class EncryptionMethod : std::int32_t { ZipCrypto = 0, AES256 = 1 };

// Default interface of CompressionOptions; setters store any value.
struct ICompressionOptions : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.ICompressionOptions");
    static constexpr const char* name = "Zorvik.ICompressionOptions";
    virtual HRESULT get_CompressionMethod(CompressionMethod* value) = 0;
    virtual HRESULT put_CompressionMethod(CompressionMethod value) = 0;
    virtual HRESULT get_CompressionLevel(CompressionLevel* value) = 0;
    virtual HRESULT put_CompressionLevel(CompressionLevel value) = 0;
    virtual HRESULT get_EncryptionMethod(EncryptionMethod* value) = 0;
    virtual HRESULT put_EncryptionMethod(EncryptionMethod value) = 0;
    virtual HRESULT get_UseEncryption(bool* value) = 0;
    virtual HRESULT put_UseEncryption(bool value) = 0;
    virtual HRESULT get_EncryptHeaders(bool* value) = 0;
    virtual HRESULT put_EncryptHeaders(bool value) = 0;
    virtual HRESULT get_IsSolid(bool* value) = 0;
    virtual HRESULT put_IsSolid(bool value) = 0;
};

// Default interface of CompressorDescription. Arrays come back as (count, CoTaskMemAlloc'd
// elements); a null array as (0, nullptr).
struct ICompressorDescription : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.ICompressorDescription");
    static constexpr const char* name = "Zorvik.ICompressorDescription";
    virtual HRESULT get_FormatName(HSTRING* value) = 0;
    virtual HRESULT get_CompressionMethods(std::uint32_t* count, CompressionMethod** values) = 0;
    virtual HRESULT get_CompressionLevels(std::uint32_t* count, CompressionLevel** values) = 0;
    virtual HRESULT get_EncryptionMethods(std::uint32_t* count, EncryptionMethod** values) = 0;
    virtual HRESULT get_SupportsEncryption(bool* value) = 0;
    virtual HRESULT get_CapabilityB(bool* value) = 0;
    virtual HRESULT get_SupportsSolid(bool* value) = 0;
    virtual HRESULT get_SupportsHeaderEncryption(bool* value) = 0;
    virtual HRESULT get_CapabilityE(bool* value) = 0;
    virtual HRESULT get_CapabilityF(bool* value) = 0;
    virtual HRESULT get_DefaultOptions(ICompressionOptions** value) = 0;
};

// Statics of CompressorDescription, the default interface of its activation factory.
struct __ICompressorDescriptionStatics : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.__ICompressorDescriptionStatics");
    static constexpr const char* name = "Zorvik.__ICompressorDescriptionStatics";
    // Elements are owned references; free the array with CoTaskMemFree after releasing them.
    virtual HRESULT GetCompressorDescriptions(std::uint32_t* count, ICompressorDescription*** descriptions) = 0;
};

}  // namespace Zorvik
