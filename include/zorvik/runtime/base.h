// The ABI of the platform stand-in: GUIDs, HRESULTs, the COM base interfaces and HSTRING.
// Layouts and slot orders follow the store platform, so that the component, its callers and the
// archive engine can share interface pointers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// Exported from libzorvik-runtime.so; everything else in it stays hidden.
#define ZORVIK_RT_EXPORT __attribute__((visibility("default")))
#define ZORVIK_RUNTIME_API extern "C" ZORVIK_RT_EXPORT
// The platform's C functions keep their names in source but are zorvik_<name> at the symbol
// level, so they never meet another library's function of the same name (SysAllocString of
// a COM compatibility layer, say) in a process that loads both.
#define ZORVIK_RUNTIME_SYMBOL(name) __asm__("zorvik_" #name)

using HRESULT = std::int32_t;

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];

    friend constexpr bool operator==(const GUID& a, const GUID& b) noexcept {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i]) return false;
        return true;
    }
};
using IID = GUID;
using REFIID = const IID&;

// HRESULTs with their platform values.
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
inline constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
inline constexpr HRESULT E_BOUNDS = static_cast<HRESULT>(0x8000000B);
inline constexpr HRESULT E_ILLEGAL_METHOD_CALL = static_cast<HRESULT>(0x8000000E);
inline constexpr HRESULT RO_E_CLOSED = static_cast<HRESULT>(0x80000013);
inline constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005);
inline constexpr HRESULT E_HANDLE = static_cast<HRESULT>(0x80070006);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);

inline constexpr bool SUCCEEDED(HRESULT hr) noexcept { return hr >= 0; }
inline constexpr bool FAILED(HRESULT hr) noexcept { return hr < 0; }

// A Win32 error code as an HRESULT (0x8007xxxx).
inline constexpr HRESULT HRESULT_FROM_WIN32(std::uint32_t error) noexcept {
    return error == 0 ? S_OK : static_cast<HRESULT>((error & 0xFFFF) | 0x80070000u);
}

namespace zorvik::rt {

namespace detail {
constexpr std::uint32_t rotl(std::uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

// SHA-1, enough for name-based GUIDs; usable at compile time.
constexpr std::array<std::uint8_t, 20> sha1(std::vector<std::uint8_t> message) {
    std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    const std::uint64_t bits = static_cast<std::uint64_t>(message.size()) * 8;
    message.push_back(0x80);
    while (message.size() % 64 != 56) message.push_back(0);
    for (int i = 7; i >= 0; --i) message.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    for (std::size_t chunk = 0; chunk < message.size(); chunk += 64) {
        std::uint32_t w[80]{};
        for (int i = 0; i < 16; ++i)
            w[i] = std::uint32_t(message[chunk + 4 * i]) << 24 | std::uint32_t(message[chunk + 4 * i + 1]) << 16 |
                   std::uint32_t(message[chunk + 4 * i + 2]) << 8 | std::uint32_t(message[chunk + 4 * i + 3]);
        for (int i = 16; i < 80; ++i) w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int i = 0; i < 80; ++i) {
            std::uint32_t f = 0, k = 0;
            if (i < 20)
                f = (b & c) | (~b & d), k = 0x5A827999;
            else if (i < 40)
                f = b ^ c ^ d, k = 0x6ED9EBA1;
            else if (i < 60)
                f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDC;
            else
                f = b ^ c ^ d, k = 0xCA62C1D6;
            const std::uint32_t t = rotl(a, 5) + f + e + k + w[i];
            e = d, d = c, c = rotl(b, 30), b = a, a = t;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
    }
    std::array<std::uint8_t, 20> digest{};
    for (int i = 0; i < 20; ++i) digest[i] = static_cast<std::uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
}

// Namespace of the platform's name-based interface IDs.
inline constexpr std::uint8_t kInterfaceNamespace[16] = {0x11, 0xf4, 0x7a, 0xd5, 0x7b, 0x73, 0x42, 0xc0,
                                                         0xab, 0xae, 0x87, 0x8b, 0x1e, 0x16, 0xad, 0xee};
}  // namespace detail

// A version 5 (SHA-1, name-based) GUID of an interface's full name: stable for a given name,
// at compile time for fixed names and at run time for generic instantiations.
constexpr GUID guid_from_name(std::string_view name) {
    std::vector<std::uint8_t> message(detail::kInterfaceNamespace, detail::kInterfaceNamespace + 16);
    for (char c : name) message.push_back(static_cast<std::uint8_t>(c));
    const auto d = detail::sha1(std::move(message));
    GUID g{};
    g.Data1 = std::uint32_t(d[0]) << 24 | std::uint32_t(d[1]) << 16 | std::uint32_t(d[2]) << 8 | d[3];
    g.Data2 = static_cast<std::uint16_t>(d[4] << 8 | d[5]);
    g.Data3 = static_cast<std::uint16_t>(((d[6] << 8 | d[7]) & 0x0FFF) | 0x5000);
    for (int i = 0; i < 8; ++i) g.Data4[i] = d[8 + i];
    g.Data4[0] = static_cast<std::uint8_t>((g.Data4[0] & 0x3F) | 0x80);
    return g;
}

}  // namespace zorvik::rt

// ---- COM base ----------------------------------------------------------------------------

// IUnknown has no virtual destructor: slot 3 is the first method of a derived interface, as the
// archive engine expects.
struct IUnknown {
    static constexpr GUID iid{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

struct HSTRING__;
using HSTRING = HSTRING__*;

enum TrustLevel : std::int32_t { BaseTrust = 0, PartialTrust = 1, FullTrust = 2 };

struct IInspectable : IUnknown {
    static constexpr GUID iid{0xAF86E2E0, 0xB12D, 0x4C6A, {0x9C, 0x5A, 0xD7, 0xAA, 0x65, 0x10, 0x1E, 0x90}};
    static constexpr const char* name = "Object";
    virtual HRESULT GetIids(std::uint32_t* count, GUID** iids) = 0;
    virtual HRESULT GetRuntimeClassName(HSTRING* className) = 0;
    virtual HRESULT GetTrustLevel(TrustLevel* level) = 0;
};

struct IActivationFactory : IInspectable {
    static constexpr GUID iid{0x00000035, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    static constexpr const char* name = "Windows.Foundation.IActivationFactory";
    virtual HRESULT ActivateInstance(IInspectable** instance) = 0;
};

struct IWeakReference : IUnknown {
    static constexpr GUID iid{0x00000037, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    virtual HRESULT Resolve(REFIID iid, IInspectable** object) = 0;
};

struct IWeakReferenceSource : IUnknown {
    static constexpr GUID iid{0x00000038, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    virtual HRESULT GetWeakReference(IWeakReference** weakReference) = 0;
};

namespace ABI::Windows::Foundation {
struct IClosable : IInspectable {
    static constexpr GUID iid{0x30D5A829, 0x7FA4, 0x4026, {0x83, 0xBB, 0xD7, 0x5B, 0xAE, 0x4E, 0xA9, 0x9E}};
    static constexpr const char* name = "Windows.Foundation.IClosable";
    virtual HRESULT Close() = 0;
};
}  // namespace ABI::Windows::Foundation

// ---- HSTRING: immutable, reference-counted wchar_t text; nullptr is the empty string --------

ZORVIK_RUNTIME_API HRESULT WindowsCreateString(const wchar_t* text, std::uint32_t length, HSTRING* string)
    ZORVIK_RUNTIME_SYMBOL(WindowsCreateString);
ZORVIK_RUNTIME_API HRESULT WindowsDuplicateString(HSTRING string, HSTRING* newString) ZORVIK_RUNTIME_SYMBOL(WindowsDuplicateString);
ZORVIK_RUNTIME_API HRESULT WindowsDeleteString(HSTRING string) ZORVIK_RUNTIME_SYMBOL(WindowsDeleteString);
ZORVIK_RUNTIME_API const wchar_t* WindowsGetStringRawBuffer(HSTRING string, std::uint32_t* length)
    ZORVIK_RUNTIME_SYMBOL(WindowsGetStringRawBuffer);
ZORVIK_RUNTIME_API std::uint32_t WindowsGetStringLen(HSTRING string) ZORVIK_RUNTIME_SYMBOL(WindowsGetStringLen);

// Task memory, as used by IInspectable::GetIids.
ZORVIK_RUNTIME_API void* CoTaskMemAlloc(std::size_t size) ZORVIK_RUNTIME_SYMBOL(CoTaskMemAlloc);
ZORVIK_RUNTIME_API void CoTaskMemFree(void* memory) ZORVIK_RUNTIME_SYMBOL(CoTaskMemFree);
