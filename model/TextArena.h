// The names and paths of an item tree, each stored once in large blocks: one byte a character
// when every character of the text fits in one (Latin-1, which covers most names), four bytes
// otherwise. A tree of a million entries keeps its text in a quarter of the wide size.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Zorvik::Impl {

// A view of text in an arena: cheap to copy, valid as long as the arena.
class PackedText {
public:
    // Marks the length of text stored four bytes a character.
    static constexpr std::uint32_t kWide = 0x80000000;

    PackedText() = default;
    // Rebuilds a view from a pointer and StoredLength.
    PackedText(const void* data, std::uint32_t storedLength) noexcept
        : data_(data), length_(storedLength & ~kWide), wide_((storedLength & kWide) != 0) {}

    std::uint32_t size() const noexcept { return length_; }
    bool empty() const noexcept { return length_ == 0; }
    wchar_t operator[](std::uint32_t index) const noexcept {
        return wide_ ? static_cast<const wchar_t*>(data_)[index] : static_cast<wchar_t>(static_cast<const unsigned char*>(data_)[index]);
    }
    // Characters [start, start + count), clipped to the end.
    PackedText substr(std::uint32_t start, std::uint32_t count = UINT32_MAX) const noexcept;

    std::wstring Wide() const;
    void AppendTo(std::wstring& text) const;
    bool operator==(const PackedText& other) const noexcept;

    // The pointer and the length with its width, for records that keep the two apart.
    const void* Data() const noexcept { return data_; }
    std::uint32_t StoredLength() const noexcept { return length_ | (wide_ ? kWide : 0); }

private:
    const void* data_ = nullptr;
    std::uint32_t length_ = 0;
    bool wide_ = false;
};

class TextArena {
public:
    // A copy of text that lives as long as the arena. Raises E_OUTOFMEMORY for text of 2^31
    // characters or more.
    PackedText Store(std::wstring_view text);

private:
    static constexpr std::size_t kBlockSize = 64 << 10;

    std::byte* Reserve(std::size_t bytes, std::size_t alignment);

    std::vector<std::unique_ptr<std::byte[]>> blocks_;
    std::byte* next_ = nullptr;
    std::size_t left_ = 0;
};

}  // namespace Zorvik::Impl
