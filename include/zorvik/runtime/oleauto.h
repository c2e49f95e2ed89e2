// OLE Automation strings and variants, binary-compatible with the archive engine's: a BSTR is
// malloc'ed with a 32-bit byte length before the text and a zero character after it; a
// PROPVARIANT is the type, three reserved words and an 8-byte value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "zorvik/runtime/errors.h"
#include "zorvik/runtime/win32.h"

using OLECHAR = wchar_t;
using BSTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using SCODE = std::int32_t;
using PROPID = std::uint32_t;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_FILETIME = 64,
};

struct PROPVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        char cVal;
        unsigned char bVal;
        std::int16_t iVal;
        std::uint16_t uiVal;
        LONG lVal;
        ULONG ulVal;
        int intVal;
        UINT uintVal;
        LARGE_INTEGER hVal;
        ULARGE_INTEGER uhVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        FILETIME filetime;
        BSTR bstrVal;
    };
};
using VARIANT = PROPVARIANT;
using VARIANTARG = PROPVARIANT;
static_assert(sizeof(PROPVARIANT) == 16 && offsetof(PROPVARIANT, bstrVal) == 8, "the engine's PROPVARIANT layout");

// nullptr (out of memory, or a length of 4 GiB or more) on failure. A null source leaves the
// text zero-filled. SysAllocString(nullptr) is nullptr.
ZORVIK_RUNTIME_API BSTR SysAllocString(const OLECHAR* text) ZORVIK_RUNTIME_SYMBOL(SysAllocString);
ZORVIK_RUNTIME_API BSTR SysAllocStringLen(const OLECHAR* text, UINT length) ZORVIK_RUNTIME_SYMBOL(SysAllocStringLen);
// Any number of bytes, odd ones included; the text is followed by a whole zero character.
ZORVIK_RUNTIME_API BSTR SysAllocStringByteLen(const char* bytes, UINT byteLength) ZORVIK_RUNTIME_SYMBOL(SysAllocStringByteLen);
ZORVIK_RUNTIME_API void SysFreeString(BSTR string) ZORVIK_RUNTIME_SYMBOL(SysFreeString);
// Both are 0 for nullptr, the empty string.
ZORVIK_RUNTIME_API UINT SysStringLen(BSTR string) ZORVIK_RUNTIME_SYMBOL(SysStringLen);
ZORVIK_RUNTIME_API UINT SysStringByteLen(BSTR string) ZORVIK_RUNTIME_SYMBOL(SysStringByteLen);

// Frees a VT_BSTR value and sets VT_EMPTY. E_INVALIDARG for nullptr.
ZORVIK_RUNTIME_API HRESULT VariantClear(VARIANTARG* variant) ZORVIK_RUNTIME_SYMBOL(VariantClear);
// Clears the destination, then copies; strings are copied deeply. Copying a variant onto
// itself does nothing. E_OUTOFMEMORY leaves the destination VT_EMPTY.
ZORVIK_RUNTIME_API HRESULT VariantCopy(VARIANTARG* destination, const VARIANTARG* source) ZORVIK_RUNTIME_SYMBOL(VariantCopy);
// VariantClear that also zeroes the reserved words and the value.
ZORVIK_RUNTIME_API HRESULT PropVariantClear(PROPVARIANT* variant) ZORVIK_RUNTIME_SYMBOL(PropVariantClear);

namespace zorvik::rt {

// Owns a BSTR.
class bstr {
public:
    bstr() noexcept = default;
    explicit bstr(std::wstring_view text) {
        if (text.size() >= 0xFFFFFFFFu / sizeof(OLECHAR)) throw out_of_memory_error();
        value_ = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!value_) throw out_of_memory_error();
    }
    static bstr attach(BSTR value) noexcept {
        bstr result;
        result.value_ = value;
        return result;
    }
    bstr(bstr&& other) noexcept : value_(other.detach()) {}
    bstr& operator=(bstr&& other) noexcept {
        std::swap(value_, other.value_);
        return *this;
    }
    ~bstr() { SysFreeString(value_); }

    BSTR get() const noexcept { return value_; }
    // For an out-parameter.
    BSTR* put() noexcept {
        SysFreeString(std::exchange(value_, nullptr));
        return &value_;
    }
    [[nodiscard]] BSTR detach() noexcept { return std::exchange(value_, nullptr); }

    std::wstring_view view() const noexcept { return value_ ? std::wstring_view(value_, SysStringLen(value_)) : std::wstring_view(); }
    std::size_t size() const noexcept { return SysStringLen(value_); }
    bool empty() const noexcept { return size() == 0; }

private:
    BSTR value_ = nullptr;
};

// Owns a PROPVARIANT; readers give nullopt when it holds another type.
class prop_variant {
public:
    prop_variant() noexcept = default;
    prop_variant(const prop_variant& other) { check_hresult(VariantCopy(&value_, &other.value_)); }
    prop_variant(prop_variant&& other) noexcept : value_(std::exchange(other.value_, PROPVARIANT{})) {}
    prop_variant& operator=(prop_variant other) noexcept {
        std::swap(value_, other.value_);
        return *this;
    }
    ~prop_variant() { PropVariantClear(&value_); }

    const PROPVARIANT& get() const noexcept { return value_; }
    // For an out-parameter.
    PROPVARIANT* put() noexcept {
        PropVariantClear(&value_);
        return &value_;
    }
    // Hands the value to an out-parameter, clearing what it held, as the engine does.
    void detach_to(PROPVARIANT* destination) noexcept {
        PropVariantClear(destination);
        *destination = std::exchange(value_, PROPVARIANT{});
    }

    VARTYPE type() const noexcept { return value_.vt; }
    bool empty() const noexcept { return value_.vt == VT_EMPTY; }

    std::optional<std::wstring_view> as_string() const noexcept {
        if (value_.vt != VT_BSTR) return std::nullopt;
        return value_.bstrVal ? std::wstring_view(value_.bstrVal, SysStringLen(value_.bstrVal)) : std::wstring_view();
    }
    std::optional<bool> as_bool() const noexcept {
        if (value_.vt != VT_BOOL) return std::nullopt;
        return value_.boolVal != VARIANT_FALSE;
    }
    // Any unsigned integer type.
    std::optional<std::uint64_t> as_uint64() const noexcept {
        switch (value_.vt) {
        case VT_UI1: return value_.bVal;
        case VT_UI2: return value_.uiVal;
        case VT_UI4: return value_.ulVal;
        case VT_UINT: return value_.uintVal;
        case VT_UI8: return value_.uhVal.QuadPart;
        default: return std::nullopt;
        }
    }
    std::optional<FILETIME> as_filetime() const noexcept {
        if (value_.vt != VT_FILETIME) return std::nullopt;
        return value_.filetime;
    }

    void set_string(std::wstring_view text) {
        bstr value(text);
        PropVariantClear(&value_);
        value_.vt = VT_BSTR;
        value_.bstrVal = value.detach();
    }
    void set_bool(bool value) noexcept {
        PropVariantClear(&value_);
        value_.vt = VT_BOOL;
        value_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
    void set_uint32(std::uint32_t value) noexcept {
        PropVariantClear(&value_);
        value_.vt = VT_UI4;
        value_.ulVal = value;
    }
    void set_uint64(std::uint64_t value) noexcept {
        PropVariantClear(&value_);
        value_.vt = VT_UI8;
        value_.uhVal.QuadPart = value;
    }
    void set_filetime(FILETIME value) noexcept {
        PropVariantClear(&value_);
        value_.vt = VT_FILETIME;
        value_.filetime = value;
    }

private:
    PROPVARIANT value_{};
};

}  // namespace zorvik::rt
