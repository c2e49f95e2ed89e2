#include "model/TextArena.h"

#include <algorithm>
#include <cstring>

#include "zorvik/runtime/errors.h"

namespace Zorvik::Impl {

PackedText PackedText::substr(std::uint32_t start, std::uint32_t count) const noexcept {
    start = std::min(start, length_);
    count = std::min(count, length_ - start);
    const void* data = wide_ ? static_cast<const void*>(static_cast<const wchar_t*>(data_) + start)
                             : static_cast<const void*>(static_cast<const unsigned char*>(data_) + start);
    return PackedText(data, count | (wide_ ? kWide : 0));
}

std::wstring PackedText::Wide() const {
    std::wstring text;
    AppendTo(text);
    return text;
}

void PackedText::AppendTo(std::wstring& text) const {
    if (wide_) {
        text.append(static_cast<const wchar_t*>(data_), length_);
        return;
    }
    const auto* bytes = static_cast<const unsigned char*>(data_);
    text.append(bytes, bytes + length_);
}

bool PackedText::operator==(const PackedText& other) const noexcept {
    if (length_ != other.length_) return false;
    if (wide_ == other.wide_) return length_ == 0 || std::memcmp(data_, other.data_, length_ * (wide_ ? sizeof(wchar_t) : 1)) == 0;
    for (std::uint32_t i = 0; i < length_; ++i)
        if ((*this)[i] != other[i]) return false;
    return true;
}

PackedText TextArena::Store(std::wstring_view text) {
    constexpr std::uint32_t kWide = PackedText::kWide;
    if (text.size() >= kWide) throw zorvik::rt::out_of_memory_error();
    if (text.empty()) return {};
    const auto length = static_cast<std::uint32_t>(text.size());
    const bool wide = std::any_of(text.begin(), text.end(), [](wchar_t c) { return static_cast<std::uint32_t>(c) > 0xFF; });
    if (wide) {
        std::byte* place = Reserve(text.size() * sizeof(wchar_t), alignof(wchar_t));
        std::memcpy(place, text.data(), text.size() * sizeof(wchar_t));
        return PackedText(place, length | kWide);
    }
    std::byte* place = Reserve(text.size(), 1);
    std::transform(text.begin(), text.end(), reinterpret_cast<unsigned char*>(place),
                   [](wchar_t c) { return static_cast<unsigned char>(c); });
    return PackedText(place, length);
}

std::byte* TextArena::Reserve(std::size_t bytes, std::size_t alignment) {
    const std::size_t padding = (alignment - reinterpret_cast<std::uintptr_t>(next_) % alignment) % alignment;
    if (padding + bytes > left_) {
        // Text larger than a quarter block gets a block of its own, so that blocks stay full.
        if (bytes > kBlockSize / 4) return blocks_.emplace_back(std::make_unique_for_overwrite<std::byte[]>(bytes)).get();
        next_ = blocks_.emplace_back(std::make_unique_for_overwrite<std::byte[]>(kBlockSize)).get();
        left_ = kBlockSize;
        return Reserve(bytes, alignment);
    }
    std::byte* place = next_ + padding;
    next_ = place + bytes;
    left_ -= padding + bytes;
    return place;
}

}  // namespace Zorvik::Impl
