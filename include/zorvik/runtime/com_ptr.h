// Owning interface pointers and platform strings for callers and implementers.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "zorvik/runtime/errors.h"

namespace zorvik::rt {

// Owns one reference to an interface.
template <typename T>
class com_ptr {
public:
    com_ptr() noexcept = default;
    com_ptr(std::nullptr_t) noexcept {}
    com_ptr(const com_ptr& other) noexcept : ptr_(other.ptr_) { add_ref(); }
    com_ptr(com_ptr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    template <typename U>
    com_ptr(const com_ptr<U>& other) noexcept : ptr_(other.get()) {
        add_ref();
    }
    template <typename U>
    com_ptr(com_ptr<U>&& other) noexcept : ptr_(other.detach()) {}
    ~com_ptr() { release(); }

    com_ptr& operator=(com_ptr other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;
    }

    // Takes a new reference to a raw pointer.
    static com_ptr copy_from(T* pointer) noexcept {
        com_ptr result;
        result.ptr_ = pointer;
        result.add_ref();
        return result;
    }
    // Adopts a reference the caller already owns.
    void attach(T* pointer) noexcept {
        release();
        ptr_ = pointer;
    }
    [[nodiscard]] T* detach() noexcept { return std::exchange(ptr_, nullptr); }

    T* get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    T& operator*() const noexcept { return *ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

    // Releases what is held and returns the slot for an out-parameter.
    T** put() noexcept {
        release();
        return &ptr_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    // QueryInterface; as() raises the failure, try_as() answers null.
    template <typename U>
    com_ptr<U> as() const {
        check_pointer(ptr_);
        com_ptr<U> result;
        check_hresult(ptr_->QueryInterface(U::iid, result.put_void()));
        return result;
    }
    template <typename U>
    com_ptr<U> try_as() const noexcept {
        com_ptr<U> result;
        if (ptr_) ptr_->QueryInterface(U::iid, result.put_void());
        return result;
    }

    friend bool operator==(const com_ptr& a, const com_ptr& b) noexcept { return a.ptr_ == b.ptr_; }
    friend bool operator==(const com_ptr& a, std::nullptr_t) noexcept { return a.ptr_ == nullptr; }

private:
    void add_ref() const noexcept {
        if (ptr_) ptr_->AddRef();
    }
    void release() noexcept {
        if (T* p = std::exchange(ptr_, nullptr)) p->Release();
    }

    T* ptr_ = nullptr;
};

// Owns an HSTRING.
class hstring {
public:
    hstring() noexcept = default;
    hstring(std::wstring_view text) { check_hresult(WindowsCreateString(text.data(), static_cast<std::uint32_t>(text.size()), &handle_)); }
    hstring(const wchar_t* text) : hstring(std::wstring_view(text)) {}
    hstring(const std::wstring& text) : hstring(std::wstring_view(text)) {}
    hstring(const hstring& other) { check_hresult(WindowsDuplicateString(other.handle_, &handle_)); }
    hstring(hstring&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    ~hstring() { WindowsDeleteString(handle_); }
    hstring& operator=(hstring other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }

    // Adopts an HSTRING the caller owns (an out-parameter's result).
    static hstring attach(HSTRING handle) noexcept {
        hstring result;
        result.handle_ = handle;
        return result;
    }
    // Hands the string to an out-parameter.
    [[nodiscard]] HSTRING detach() noexcept { return std::exchange(handle_, nullptr); }
    HSTRING get() const noexcept { return handle_; }
    HSTRING* put() noexcept {
        WindowsDeleteString(std::exchange(handle_, nullptr));
        return &handle_;
    }

    std::wstring_view view() const noexcept {
        std::uint32_t length = 0;
        const wchar_t* text = WindowsGetStringRawBuffer(handle_, &length);
        return {text, length};
    }
    const wchar_t* c_str() const noexcept { return WindowsGetStringRawBuffer(handle_, nullptr); }
    std::size_t size() const noexcept { return WindowsGetStringLen(handle_); }
    bool empty() const noexcept { return size() == 0; }
    operator std::wstring_view() const noexcept { return view(); }

    friend bool operator==(const hstring& a, std::wstring_view b) noexcept { return a.view() == b; }

private:
    HSTRING handle_ = nullptr;
};

// A copy of an HSTRING handed in by a caller (the callee does not own its argument).
inline hstring copy_hstring(HSTRING handle) {
    hstring result;
    check_hresult(WindowsDuplicateString(handle, result.put()));
    return result;
}

// UTF-8 at the edges (file names, command line, console), lossless for any bytes: a byte that
// is not part of well-formed UTF-8 becomes U+EF00 + byte (U+EF80..U+EFFF), as the archive
// engine keeps such names on this platform, and the bytes of those private-use characters are
// escaped one by one. to_utf8 gives every escaped byte back, joins UTF-16 pairs, and writes a
// lone surrogate as its three bytes. to_utf8(to_wide(bytes)) == bytes for all bytes.
ZORVIK_RT_EXPORT std::wstring to_wide(std::string_view bytes);
ZORVIK_RT_EXPORT std::string to_utf8(std::wstring_view text);

}  // namespace zorvik::rt
