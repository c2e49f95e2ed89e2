#include "random_access_stream.h"

#include <algorithm>

#include "zorvik/runtime/streams.h"

namespace zorvik::rt {

using ABI::Windows::Storage::Streams::IBuffer;
using ABI::Windows::Storage::Streams::InputStreamOptions;

random_access_stream::random_access_stream(std::shared_ptr<stream_store> store, std::uint64_t position) noexcept
    : class_name_(store->class_name()), store_(std::move(store)), position_(position) {}

std::shared_ptr<stream_store> random_access_stream::open_store() const {
    std::lock_guard lock(mutex_);
    if (!store_) throw object_disposed_error();
    return store_;
}

std::shared_ptr<stream_store> random_access_stream::writable_store() const {
    auto store = open_store();
    if (!store->can_write()) throw hresult_error(E_ACCESSDENIED, "the stream is read-only");
    return store;
}

HRESULT random_access_stream::GetRuntimeClassName(HSTRING* name) {
    if (!name) return E_POINTER;
    *name = nullptr;
    return boundary([&] { *name = detail::make_class_name(class_name_); });
}

HRESULT random_access_stream::get_Size(std::uint64_t* size) {
    return boundary([&] {
        check_pointer(size);
        auto store = open_store();
        *size = store->run([&] { return store->size(); });
    });
}

// A smaller size pulls this stream's position back to the new end, as file and memory streams
// elsewhere do; other streams over the data keep theirs.
HRESULT random_access_stream::put_Size(std::uint64_t size) {
    return boundary([&] {
        auto store = writable_store();
        store->run([&] {
            store->set_size(size);
            position_ = std::min(position_, size);
        });
    });
}

HRESULT random_access_stream::GetInputStreamAt(std::uint64_t position, IInputStream** stream) {
    if (stream) *stream = nullptr;
    return boundary([&] {
        check_pointer(stream);
        *stream = detach_as<IInputStream>(make<random_access_stream>(open_store(), position));
    });
}

HRESULT random_access_stream::GetOutputStreamAt(std::uint64_t position, IOutputStream** stream) {
    if (stream) *stream = nullptr;
    return boundary([&] {
        check_pointer(stream);
        *stream = detach_as<IOutputStream>(make<random_access_stream>(writable_store(), position));
    });
}

HRESULT random_access_stream::get_Position(std::uint64_t* position) {
    return boundary([&] {
        check_pointer(position);
        *position = open_store()->run([&] { return position_; });
    });
}

// Any position is allowed: reading beyond the end gives nothing, writing there extends. The
// move is ordered among the pending operations without waiting for them.
HRESULT random_access_stream::Seek(std::uint64_t position) {
    return boundary([&] {
        auto self = com_ptr<random_access_stream>::copy_from(this);
        open_store()->apply([self, position] { self->position_ = position; });
    });
}

HRESULT random_access_stream::CloneStream(IRandomAccessStream** stream) {
    if (stream) *stream = nullptr;
    return boundary([&] {
        check_pointer(stream);
        *stream = detach_as<IRandomAccessStream>(make<random_access_stream>(open_store(), 0));
    });
}

HRESULT random_access_stream::get_CanRead(bool* canRead) {
    return boundary([&] {
        check_pointer(canRead);
        open_store();
        *canRead = true;
    });
}

HRESULT random_access_stream::get_CanWrite(bool* canWrite) {
    return boundary([&] {
        check_pointer(canWrite);
        *canWrite = open_store()->can_write();
    });
}

namespace {

// Writes up to this size run on the caller's thread when the stream is idle: handing them to
// another thread costs more than the copy. Larger ones run on the pool, so that a writer can go
// on (decoding the next data, say) while they land. Reads always run on the caller's thread
// when the stream is idle: a reader waits for its data anyway, and a hop only delays it.
constexpr std::uint32_t kInlineWrite = 0x10000;

// An operation whose work runs in its turn in the store's queue, which ends it; on the
// caller's thread when allowed and nothing is pending.
template <typename T, typename Work>
com_ptr<ABI::Windows::Foundation::IAsyncOperation<T>> queue_operation(stream_store& store, bool may_run_inline, Work work) {
    auto operation = make<detail::async_operation<T>>();
    auto step = [operation, work = std::move(work)]() mutable {
        auto body = [&](const cancellation_token&) { operation->set_result(work()); };
        operation->run_here(body);
    };
    if (may_run_inline)
        store.apply(std::move(step));
    else
        store.post(std::move(step));
    return operation;
}

}  // namespace

// Reads min(count, capacity) bytes or up to the end, whatever the options: the data is local,
// so waiting for more never pays.
HRESULT random_access_stream::ReadAsync(IBuffer* buffer, std::uint32_t count, InputStreamOptions, IAsyncOperation<IBuffer*>** operation) {
    if (operation) *operation = nullptr;
    return boundary([&] {
        check_pointer(buffer);
        check_pointer(operation);
        auto store = open_store();
        auto target = com_ptr<IBuffer>::copy_from(buffer);
        const std::uint32_t wanted = std::min(count, buffer_capacity(buffer));
        std::uint8_t* const bytes = buffer_data(buffer);
        auto self = com_ptr<random_access_stream>::copy_from(this);
        *operation = queue_operation<IBuffer*>(*store, true, [self, store, target, bytes, wanted] {
                         const std::uint32_t read = store->read_at(self->position_, bytes, wanted);
                         self->position_ += read;
                         check_hresult(target->put_Length(read));
                         return target;
                     }).detach();
    });
}

// Writes the buffer's Length bytes at the position the stream will have when every operation
// issued before is done.
HRESULT random_access_stream::WriteAsync(IBuffer* buffer, IAsyncOperation<std::uint32_t>** operation) {
    if (operation) *operation = nullptr;
    return boundary([&] {
        check_pointer(buffer);
        check_pointer(operation);
        auto store = writable_store();
        auto source = com_ptr<IBuffer>::copy_from(buffer);
        const std::uint32_t length = buffer_length(buffer);
        const std::uint8_t* const bytes = buffer_data(buffer);
        auto self = com_ptr<random_access_stream>::copy_from(this);
        *operation = queue_operation<std::uint32_t>(*store, length <= kInlineWrite, [self, store, source, bytes, length] {
                         store->write_at(self->position_, bytes, length);
                         self->position_ += length;
                         return length;
                     }).detach();
    });
}

HRESULT random_access_stream::FlushAsync(IAsyncOperation<bool>** operation) {
    if (operation) *operation = nullptr;
    return boundary([&] {
        check_pointer(operation);
        auto store = open_store();
        *operation = queue_operation<bool>(*store, false, [store] {
                         store->flush();
                         return true;
                     }).detach();
    });
}

// Operations already issued still complete; the store goes with the last of them.
HRESULT random_access_stream::Close() {
    std::shared_ptr<stream_store> closing;
    {
        std::lock_guard lock(mutex_);
        closing = std::move(store_);
    }
    return S_OK;
}

}  // namespace zorvik::rt
