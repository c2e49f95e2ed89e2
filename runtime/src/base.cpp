// HSTRING, task memory and name-based GUIDs.
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <string_view>

#include "zorvik/runtime/implements.h"

struct HSTRING__ {
    std::atomic<std::uint32_t> references;
    std::uint32_t length;
    wchar_t text[1];  // length characters and a terminating zero
};

HRESULT WindowsCreateString(const wchar_t* text, std::uint32_t length, HSTRING* string) {
    if (!string) return E_POINTER;
    *string = nullptr;
    if (length == 0) return S_OK;
    if (!text) return E_POINTER;
    void* memory = std::malloc(offsetof(HSTRING__, text) + (std::size_t{length} + 1) * sizeof(wchar_t));
    if (!memory) return E_OUTOFMEMORY;
    auto* created = new (memory) HSTRING__{{1}, length, {}};
    std::char_traits<wchar_t>::copy(created->text, text, length);
    created->text[length] = L'\0';
    *string = created;
    return S_OK;
}

HRESULT WindowsDuplicateString(HSTRING string, HSTRING* newString) {
    if (!newString) return E_POINTER;
    if (string) ++string->references;
    *newString = string;
    return S_OK;
}

HRESULT WindowsDeleteString(HSTRING string) {
    if (string && --string->references == 0) {
        string->~HSTRING__();
        std::free(string);
    }
    return S_OK;
}

const wchar_t* WindowsGetStringRawBuffer(HSTRING string, std::uint32_t* length) {
    if (length) *length = string ? string->length : 0;
    return string ? string->text : L"";
}

std::uint32_t WindowsGetStringLen(HSTRING string) { return string ? string->length : 0; }

void* CoTaskMemAlloc(std::size_t size) { return std::malloc(size); }
void CoTaskMemFree(void* memory) { std::free(memory); }

namespace zorvik::rt {

namespace detail {
HSTRING make_class_name(const char* name) {
    // Components tell their objects apart by class name, so it is asked for often: each name is
    // made once and shared, kept (reachable) to the end of the process. Keyed by its text, not
    // its address, which a module loaded later may reuse.
    static std::mutex mutex;
    static auto& made = *new std::map<std::string, HSTRING, std::less<>>();
    std::lock_guard lock(mutex);
    auto found = made.find(std::string_view(name));
    if (found == made.end()) found = made.emplace(name, nullptr).first;
    if (!found->second) {
        const std::wstring wide = to_wide(name);
        check_hresult(WindowsCreateString(wide.data(), static_cast<std::uint32_t>(wide.size()), &found->second));
    }
    HSTRING result = nullptr;
    check_hresult(WindowsDuplicateString(found->second, &result));
    return result;
}
}  // namespace detail

}  // namespace zorvik::rt
