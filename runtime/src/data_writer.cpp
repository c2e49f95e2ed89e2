#include "data_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "zorvik/runtime/streams.h"

namespace zorvik::rt {

using ABI::Windows::Storage::Streams::IBuffer;

namespace {
constexpr std::uint32_t kFirstCapacity = 256;
constexpr std::uint32_t kMaxLength = std::numeric_limits<std::uint32_t>::max();
}  // namespace

void data_writer::check_open() const {
    if (closed_) throw object_disposed_error();
}

// Doubling keeps appending linear; realloc often grows large blocks in place.
void data_writer::append(const std::uint8_t* bytes, std::uint32_t count) {
    if (count == 0) return;
    if (count > kMaxLength - length_) throw out_of_bounds_error("more than 4 GiB unstored");
    const std::uint32_t needed = length_ + count;
    if (needed > capacity_) {
        std::uint32_t grown = std::max(kFirstCapacity, capacity_ <= kMaxLength / 2 ? capacity_ * 2 : kMaxLength);
        grown = std::max(grown, needed);
        auto* moved = static_cast<std::uint8_t*>(std::realloc(bytes_.get(), grown));
        if (!moved) throw std::bad_alloc();
        (void)bytes_.release();
        bytes_.reset(moved);
        capacity_ = grown;
    }
    std::memcpy(bytes_.get() + length_, bytes, count);
    length_ = needed;
}

HRESULT data_writer::get_UnstoredBufferLength(std::uint32_t* length) {
    return boundary([&] {
        check_pointer(length);
        std::lock_guard lock(mutex_);
        check_open();
        *length = length_;
    });
}

HRESULT data_writer::WriteByte(std::uint8_t value) { return WriteBytes(1, &value); }

HRESULT data_writer::WriteBytes(std::uint32_t count, const std::uint8_t* bytes) {
    return boundary([&] {
        if (count > 0) check_pointer(bytes);
        std::lock_guard lock(mutex_);
        check_open();
        append(bytes, count);
    });
}

HRESULT data_writer::WriteBuffer(IBuffer* buffer) {
    return boundary([&] {
        check_pointer(buffer);
        const std::uint32_t length = buffer_length(buffer);
        const std::uint8_t* bytes = buffer_data(buffer);
        std::lock_guard lock(mutex_);
        check_open();
        append(bytes, length);
    });
}

HRESULT data_writer::StoreAsync(IAsyncOperation<std::uint32_t>** operation) {
    if (operation) *operation = nullptr;
    std::lock_guard lock(mutex_);
    return closed_ ? RO_E_CLOSED : E_ILLEGAL_METHOD_CALL;
}

HRESULT data_writer::FlushAsync(IAsyncOperation<bool>** operation) {
    if (operation) *operation = nullptr;
    std::lock_guard lock(mutex_);
    return closed_ ? RO_E_CLOSED : E_ILLEGAL_METHOD_CALL;
}

HRESULT data_writer::DetachStream(ABI::Windows::Storage::Streams::IOutputStream** stream) {
    if (stream) *stream = nullptr;
    std::lock_guard lock(mutex_);
    return closed_ ? RO_E_CLOSED : E_ILLEGAL_METHOD_CALL;
}

HRESULT data_writer::DetachBuffer(IBuffer** buffer) {
    if (buffer) *buffer = nullptr;
    return boundary([&] {
        check_pointer(buffer);
        std::lock_guard lock(mutex_);
        check_open();
        if (length_ == 0) {
            *buffer = detach_as<IBuffer>(make<platform_buffer>(0));
            return;
        }
        // Give back the doubling slack; shrinking in place costs no copy.
        if (length_ < capacity_) {
            if (auto* shrunk = static_cast<std::uint8_t*>(std::realloc(bytes_.get(), length_))) {
                (void)bytes_.release();
                bytes_.reset(shrunk);
                capacity_ = length_;
            }
        }
        auto detached = make<platform_buffer>(std::move(bytes_), capacity_, length_);
        capacity_ = 0;
        length_ = 0;
        *buffer = detach_as<IBuffer>(std::move(detached));
    });
}

HRESULT data_writer::Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    bytes_.reset();
    capacity_ = length_ = 0;
    return S_OK;
}

}  // namespace zorvik::rt
