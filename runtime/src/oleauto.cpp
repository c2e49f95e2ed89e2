// BSTR and PROPVARIANT functions with the archive engine's layout and allocator.
#include "zorvik/runtime/oleauto.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

using size_prefix = std::uint32_t;  // byte length before the text, 32-bit as on the store platform
constexpr std::size_t kMaxSize = 0xFFFFFFFF;

// The text follows the prefix; malloc's alignment leaves it aligned for OLECHAR.
BSTR allocate(std::size_t textBytes, std::size_t allocatedTextBytes, size_prefix storedLength) {
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(size_prefix) + allocatedTextBytes));
    if (!block) return nullptr;
    std::memcpy(block, &storedLength, sizeof(size_prefix));
    std::memset(block + sizeof(size_prefix) + textBytes, 0, allocatedTextBytes - textBytes);
    return reinterpret_cast<BSTR>(block + sizeof(size_prefix));
}

size_prefix stored_length(BSTR string) {
    size_prefix length;
    std::memcpy(&length, reinterpret_cast<const unsigned char*>(string) - sizeof(size_prefix), sizeof(size_prefix));
    return length;
}

}  // namespace

BSTR SysAllocStringByteLen(const char* bytes, UINT byteLength) {
    if (byteLength >= kMaxSize - 2 * sizeof(OLECHAR) - sizeof(size_prefix)) return nullptr;
    // Rounded up to whole characters, plus a zero character.
    const std::size_t allocated = (byteLength + 2 * sizeof(OLECHAR) - 1) & ~(sizeof(OLECHAR) - 1);
    const std::size_t copied = bytes ? byteLength : 0;
    BSTR string = allocate(copied, allocated, byteLength);
    if (string && bytes) std::memcpy(string, bytes, byteLength);
    return string;
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    if (length >= (kMaxSize - sizeof(OLECHAR) - sizeof(size_prefix)) / sizeof(OLECHAR)) return nullptr;
    const std::size_t bytes = std::size_t{length} * sizeof(OLECHAR);
    const std::size_t copied = text ? bytes : 0;
    BSTR string = allocate(copied, bytes + sizeof(OLECHAR), static_cast<size_prefix>(bytes));
    if (string && text) std::memcpy(string, text, bytes);
    return string;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    const std::size_t length = std::wcslen(text);
    if (length > 0xFFFFFFFFu) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(length));
}

void SysFreeString(BSTR string) {
    if (string) std::free(reinterpret_cast<unsigned char*>(string) - sizeof(size_prefix));
}

UINT SysStringByteLen(BSTR string) { return string ? stored_length(string) : 0; }

UINT SysStringLen(BSTR string) { return string ? stored_length(string) / static_cast<UINT>(sizeof(OLECHAR)) : 0; }

HRESULT VariantClear(VARIANTARG* variant) {
    if (!variant) return E_INVALIDARG;
    if (variant->vt == VT_BSTR) SysFreeString(variant->bstrVal);
    variant->vt = VT_EMPTY;
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* destination, const VARIANTARG* source) {
    if (!destination || !source) return E_INVALIDARG;
    // Clearing first would free the string about to be copied.
    if (destination == source) return S_OK;
    VariantClear(destination);
    if (source->vt != VT_BSTR) {
        *destination = *source;
        return S_OK;
    }
    destination->bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(source->bstrVal), SysStringByteLen(source->bstrVal));
    if (!destination->bstrVal) return E_OUTOFMEMORY;
    destination->vt = VT_BSTR;
    return S_OK;
}

HRESULT PropVariantClear(PROPVARIANT* variant) {
    const HRESULT result = VariantClear(variant);
    if (FAILED(result)) return result;
    variant->wReserved1 = variant->wReserved2 = variant->wReserved3 = 0;
    variant->uhVal.QuadPart = 0;
    return S_OK;
}
