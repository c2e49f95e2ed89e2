// Collections of the platform stand-in: an observable vector with its views and iterators, and
// projection helpers that read any platform vector into standard containers.
//
// T is an ABI element type: a primitive, HSTRING (kept as an owning hstring) or an interface
// pointer (kept as a com_ptr). Inputs are borrowed and copied when stored; getters hand out
// owned references (a duplicated HSTRING, an AddRef'd pointer).
#pragma once

#include <algorithm>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

#include "zorvik/runtime/collections_abi.h"
#include "zorvik/runtime/implements.h"

namespace zorvik::rt {

namespace abi_collections = ABI::Windows::Foundation::Collections;

// How an element type is owned inside a collection and handed across the ABI.
template <typename T>
struct element_traits {
    static_assert(std::is_arithmetic_v<T> || std::is_enum_v<T>, "not an ABI element type");
    using owned = T;
    static owned copy(T value) { return value; }
    static owned adopt(T value) noexcept { return value; }
    static T hand_out(owned value) noexcept { return value; }  // by value: vector<bool> yields proxies
    static bool same(const owned& stored, T value) noexcept { return stored == value; }
};

template <>
struct element_traits<HSTRING> {
    using owned = hstring;
    static owned copy(HSTRING value) { return copy_hstring(value); }
    static owned adopt(HSTRING value) noexcept { return hstring::attach(value); }
    static HSTRING hand_out(owned& value) noexcept { return value.detach(); }
    static bool same(const owned& stored, HSTRING value) noexcept {
        std::uint32_t length = 0;
        const wchar_t* text = WindowsGetStringRawBuffer(value, &length);
        return stored.view() == std::wstring_view(text, length);
    }
};

template <typename I>
struct element_traits<I*> {
    using owned = com_ptr<I>;
    static owned copy(I* value) noexcept { return owned::copy_from(value); }
    static owned adopt(I* value) noexcept {
        owned result;
        result.attach(value);
        return result;
    }
    static I* hand_out(owned& value) noexcept { return value.detach(); }
    // COM identity: two interface pointers of one object are the same element.
    static bool same(const owned& stored, I* value) noexcept {
        if (stored.get() == value) return true;
        if (!stored || !value) return false;
        IUnknown* const stored_identity = identity(stored.get());
        return stored_identity && stored_identity == identity(value);
    }

private:
    static IUnknown* identity(I* value) noexcept {
        IUnknown* unknown = nullptr;
        if (FAILED(value->QueryInterface(IUnknown::iid, reinterpret_cast<void**>(&unknown)))) return nullptr;
        unknown->Release();  // only compared; the caller keeps the object alive
        return unknown;
    }
};

template <typename T>
using owned_t = typename element_traits<T>::owned;

// The elements a view or iterator walks: an immutable copy taken at one moment.
template <typename T>
using snapshot = std::shared_ptr<const std::vector<owned_t<T>>>;

namespace detail {

// Owned copies of up to `capacity` elements from `start` on; a start past the end is a bounds
// error, a start at the end yields nothing.
template <typename T>
std::vector<owned_t<T>> copy_range(const std::vector<owned_t<T>>& items, std::uint32_t start, std::uint32_t capacity) {
    if (start > items.size()) throw out_of_bounds_error();
    const std::size_t count = std::min<std::size_t>(capacity, items.size() - start);
    return std::vector<owned_t<T>>(items.begin() + start, items.begin() + static_cast<std::ptrdiff_t>(start + count));
}

template <typename T>
std::uint32_t hand_out_all(std::vector<owned_t<T>>& copies, T* items) noexcept {
    for (std::size_t i = 0; i < copies.size(); ++i) items[i] = element_traits<T>::hand_out(copies[i]);
    return static_cast<std::uint32_t>(copies.size());
}

template <typename T>
bool index_of(const std::vector<owned_t<T>>& items, T value, std::uint32_t* index) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (element_traits<T>::same(items[i], value)) {
            *index = static_cast<std::uint32_t>(i);
            return true;
        }
    }
    return false;
}

}  // namespace detail

// Walks a snapshot. Not meant to be shared between threads, but a lock keeps misuse harmless.
template <typename T>
class snapshot_iterator final : public implements<snapshot_iterator<T>, abi_collections::IIterator<T>> {
public:
    static constexpr const char* runtime_class_name = "Zorvik.Runtime.VectorIterator";

    explicit snapshot_iterator(snapshot<T> items) : items_(std::move(items)) {}

    HRESULT get_Current(T* current) override {
        return boundary([&] {
            check_pointer(current);
            *current = T{};
            owned_t<T> copy;
            {
                std::lock_guard lock(mutex_);
                if (position_ >= items_->size()) throw out_of_bounds_error();
                copy = (*items_)[position_];
            }
            *current = element_traits<T>::hand_out(copy);
        });
    }
    HRESULT get_HasCurrent(bool* hasCurrent) override {
        return boundary([&] {
            check_pointer(hasCurrent);
            std::lock_guard lock(mutex_);
            *hasCurrent = position_ < items_->size();
        });
    }
    HRESULT MoveNext(bool* hasCurrent) override {
        return boundary([&] {
            check_pointer(hasCurrent);
            std::lock_guard lock(mutex_);
            if (position_ < items_->size()) ++position_;
            *hasCurrent = position_ < items_->size();
        });
    }
    // Copies from the current element on and moves past what was copied.
    HRESULT GetMany(std::uint32_t capacity, T* items, std::uint32_t* actual) override {
        return boundary([&] {
            check_pointer(actual);
            *actual = 0;
            if (capacity != 0) check_pointer(items);
            std::vector<owned_t<T>> copies;
            {
                std::lock_guard lock(mutex_);
                copies = detail::copy_range<T>(*items_, position_, capacity);
                position_ += static_cast<std::uint32_t>(copies.size());
            }
            *actual = detail::hand_out_all(copies, items);
        });
    }

private:
    std::mutex mutex_;
    snapshot<T> items_;
    std::uint32_t position_ = 0;
};

// A read-only view of the elements a vector held when GetView was called.
template <typename T>
class snapshot_view final : public implements<snapshot_view<T>, abi_collections::IVectorView<T>, abi_collections::IIterable<T>> {
public:
    static constexpr const char* runtime_class_name = "Zorvik.Runtime.VectorView";

    explicit snapshot_view(snapshot<T> items) : items_(std::move(items)) {}

    HRESULT GetAt(std::uint32_t index, T* item) override {
        return boundary([&] {
            check_pointer(item);
            *item = T{};
            if (index >= items_->size()) throw out_of_bounds_error();
            owned_t<T> copy = (*items_)[index];
            *item = element_traits<T>::hand_out(copy);
        });
    }
    HRESULT get_Size(std::uint32_t* size) override {
        return boundary([&] {
            check_pointer(size);
            *size = static_cast<std::uint32_t>(items_->size());
        });
    }
    HRESULT IndexOf(T value, std::uint32_t* index, bool* found) override {
        return boundary([&] {
            check_pointer(index);
            check_pointer(found);
            *index = 0;
            *found = detail::index_of<T>(*items_, value, index);
        });
    }
    HRESULT GetMany(std::uint32_t startIndex, std::uint32_t capacity, T* items, std::uint32_t* actual) override {
        return boundary([&] {
            check_pointer(actual);
            *actual = 0;
            if (capacity != 0) check_pointer(items);
            auto copies = detail::copy_range<T>(*items_, startIndex, capacity);
            *actual = detail::hand_out_all(copies, items);
        });
    }
    HRESULT First(abi_collections::IIterator<T>** first) override {
        return boundary([&] {
            check_pointer(first);
            *first = detach_as<abi_collections::IIterator<T>>(make<snapshot_iterator<T>>(items_));
        });
    }

private:
    snapshot<T> items_;
};

// The change an observable vector reports to its handlers.
class vector_changed_args final : public implements<vector_changed_args, abi_collections::IVectorChangedEventArgs> {
public:
    vector_changed_args(abi_collections::CollectionChange change, std::uint32_t index) : change_(change), index_(index) {}

    HRESULT get_CollectionChange(abi_collections::CollectionChange* change) override {
        if (!change) return E_POINTER;
        *change = change_;
        return S_OK;
    }
    HRESULT get_Index(std::uint32_t* index) override {
        if (!index) return E_POINTER;
        *index = index_;
        return S_OK;
    }

private:
    abi_collections::CollectionChange change_;
    std::uint32_t index_;
};

// A vector that raises VectorChanged after every change. One mutex guards the elements and the
// handler list, so readers may run beside a writer; handlers run after the lock is released,
// in registration order, and elements are released outside it too. With several concurrent
// writers, events may reach handlers in a different order than the changes happened.
template <typename T>
class observable_vector final : public implements<observable_vector<T>, abi_collections::IObservableVector<T>, abi_collections::IVector<T>,
                                                  abi_collections::IIterable<T>> {
    using traits = element_traits<T>;
    using owned = owned_t<T>;
    using change_kind = abi_collections::CollectionChange;
    using handler = abi_collections::VectorChangedEventHandler<T>;
    using token = ABI::Windows::Foundation::EventRegistrationToken;

public:
    static constexpr const char* runtime_class_name = "Zorvik.Runtime.ObservableVector";

    observable_vector() = default;
    explicit observable_vector(std::vector<owned> items) : items_(std::move(items)) { check_size(items_.size()); }

    // IVector
    HRESULT GetAt(std::uint32_t index, T* item) override {
        return boundary([&] {
            check_pointer(item);
            *item = T{};
            owned copy;
            {
                std::lock_guard lock(mutex_);
                check_index(index);
                copy = items_[index];
            }
            *item = traits::hand_out(copy);
        });
    }
    HRESULT get_Size(std::uint32_t* size) override {
        return boundary([&] {
            check_pointer(size);
            std::lock_guard lock(mutex_);
            *size = static_cast<std::uint32_t>(items_.size());
        });
    }
    HRESULT GetView(abi_collections::IVectorView<T>** view) override {
        return boundary([&] {
            check_pointer(view);
            *view = detach_as<abi_collections::IVectorView<T>>(make<snapshot_view<T>>(take_snapshot()));
        });
    }
    HRESULT IndexOf(T value, std::uint32_t* index, bool* found) override {
        return boundary([&] {
            check_pointer(index);
            check_pointer(found);
            *index = 0;
            std::lock_guard lock(mutex_);
            *found = detail::index_of<T>(items_, value, index);
        });
    }
    HRESULT SetAt(std::uint32_t index, T item) override {
        return boundary([&] {
            owned replacement = traits::copy(item);
            [[maybe_unused]] owned previous;  // released after the lock
            {
                std::lock_guard lock(mutex_);
                check_index(index);
                previous = std::move(items_[index]);
                items_[index] = std::move(replacement);
            }
            raise(change_kind::ItemChanged, index);
        });
    }
    HRESULT InsertAt(std::uint32_t index, T item) override {
        return boundary([&] {
            owned inserted = traits::copy(item);
            {
                std::lock_guard lock(mutex_);
                if (index > items_.size()) throw out_of_bounds_error();
                check_size(items_.size() + 1);
                items_.insert(items_.begin() + index, std::move(inserted));
            }
            raise(change_kind::ItemInserted, index);
        });
    }
    HRESULT RemoveAt(std::uint32_t index) override {
        return boundary([&] {
            [[maybe_unused]] owned removed;  // released after the lock
            {
                std::lock_guard lock(mutex_);
                check_index(index);
                removed = std::move(items_[index]);
                items_.erase(items_.begin() + index);
            }
            raise(change_kind::ItemRemoved, index);
        });
    }
    HRESULT Append(T item) override {
        return boundary([&] {
            owned appended = traits::copy(item);
            std::uint32_t index = 0;
            {
                std::lock_guard lock(mutex_);
                check_size(items_.size() + 1);
                index = static_cast<std::uint32_t>(items_.size());
                items_.push_back(std::move(appended));
            }
            raise(change_kind::ItemInserted, index);
        });
    }
    HRESULT RemoveAtEnd() override {
        return boundary([&] {
            [[maybe_unused]] owned removed;  // released after the lock
            std::uint32_t index = 0;
            {
                std::lock_guard lock(mutex_);
                if (items_.empty()) throw out_of_bounds_error();
                index = static_cast<std::uint32_t>(items_.size() - 1);
                removed = std::move(items_.back());
                items_.pop_back();
            }
            raise(change_kind::ItemRemoved, index);
        });
    }
    HRESULT Clear() override {
        return boundary([&] {
            std::vector<owned> removed;
            {
                std::lock_guard lock(mutex_);
                std::swap(items_, removed);
            }
            raise(change_kind::Reset, 0);
        });
    }
    HRESULT GetMany(std::uint32_t startIndex, std::uint32_t capacity, T* items, std::uint32_t* actual) override {
        return boundary([&] {
            check_pointer(actual);
            *actual = 0;
            if (capacity != 0) check_pointer(items);
            std::vector<owned> copies;
            {
                std::lock_guard lock(mutex_);
                copies = detail::copy_range<T>(items_, startIndex, capacity);
            }
            *actual = detail::hand_out_all(copies, items);
        });
    }
    HRESULT ReplaceAll(std::uint32_t count, T* items) override {
        return boundary([&] {
            if (count != 0) check_pointer(items);
            std::vector<owned> replacement;
            replacement.reserve(count);
            for (std::uint32_t i = 0; i < count; ++i) replacement.push_back(traits::copy(items[i]));
            {
                std::lock_guard lock(mutex_);
                std::swap(items_, replacement);
            }
            raise(change_kind::Reset, 0);
        });
    }

    // IIterable: walks a snapshot, so a reader's walk is unaffected by a concurrent writer.
    HRESULT First(abi_collections::IIterator<T>** first) override {
        return boundary([&] {
            check_pointer(first);
            *first = detach_as<abi_collections::IIterator<T>>(make<snapshot_iterator<T>>(take_snapshot()));
        });
    }

    // IObservableVector
    HRESULT add_VectorChanged(handler* added, token* added_token) override {
        return boundary([&] {
            check_pointer(added);
            check_pointer(added_token);
            std::lock_guard lock(mutex_);
            const std::int64_t value = next_token_++;
            handlers_.push_back({value, com_ptr<handler>::copy_from(added)});
            added_token->value = value;
        });
    }
    HRESULT remove_VectorChanged(token registration) override {
        return boundary([&] {
            com_ptr<handler> removed;  // released outside the lock
            std::lock_guard lock(mutex_);
            for (auto it = handlers_.begin(); it != handlers_.end(); ++it) {
                if (it->token == registration.value) {
                    removed = std::move(it->target);
                    handlers_.erase(it);
                    break;
                }
            }
        });
    }

private:
    struct handler_entry {
        std::int64_t token;
        com_ptr<handler> target;
    };

    static void check_size(std::size_t size) {
        if (size > std::numeric_limits<std::uint32_t>::max()) throw out_of_memory_error();
    }
    void check_index(std::uint32_t index) const {
        if (index >= items_.size()) throw out_of_bounds_error();
    }

    snapshot<T> take_snapshot() {
        std::lock_guard lock(mutex_);
        return std::make_shared<const std::vector<owned>>(items_);
    }

    // A handler's failure does not undo the change, nor keep later handlers from hearing of it.
    void raise(change_kind change, std::uint32_t index) {
        std::vector<com_ptr<handler>> targets;
        {
            std::lock_guard lock(mutex_);
            if (handlers_.empty()) return;
            targets.reserve(handlers_.size());
            for (const auto& entry : handlers_) targets.push_back(entry.target);
        }
        const auto args = make<vector_changed_args>(change, index);
        for (const auto& target : targets) target->Invoke(this, args.get());
    }

    std::mutex mutex_;
    std::vector<owned> items_;
    std::vector<handler_entry> handlers_;
    std::int64_t next_token_ = 1;
};

// ---- projection helpers ----------------------------------------------------------------

// A new observable vector holding `items`.
template <typename T>
com_ptr<abi_collections::IObservableVector<T>> make_observable_vector(std::vector<owned_t<T>> items = {}) {
    return make<observable_vector<T>>(std::move(items));
}
template <typename T>
com_ptr<abi_collections::IVector<T>> make_vector(std::vector<owned_t<T>> items = {}) {
    return make<observable_vector<T>>(std::move(items));
}

namespace detail {
template <typename T, typename Collection>
std::vector<owned_t<T>> read_all(Collection* collection) {
    check_pointer(collection);
    std::uint32_t size = 0;
    check_hresult(collection->get_Size(&size));
    std::vector<owned_t<T>> result;
    if (size == 0) return result;
    const auto raw = std::make_unique<T[]>(size);
    std::uint32_t actual = 0;
    check_hresult(collection->GetMany(0, size, raw.get(), &actual));
    result.reserve(actual);
    for (std::uint32_t i = 0; i < actual && i < size; ++i) result.push_back(element_traits<T>::adopt(raw[i]));
    return result;
}
}  // namespace detail

// The elements of a platform vector or view as owned values (T, hstring or com_ptr<I>).
template <typename T>
std::vector<owned_t<T>> to_std_vector(abi_collections::IVectorView<T>* view) {
    return detail::read_all<T>(view);
}
template <typename T>
std::vector<owned_t<T>> to_std_vector(abi_collections::IVector<T>* vector) {
    return detail::read_all<T>(vector);
}

// A single-pass range over an IIterator: for (auto item : rt::iterate(vector.get())) ...
template <typename T>
class iterator_range {
public:
    class iterator {
    public:
        using value_type = owned_t<T>;
        using difference_type = std::ptrdiff_t;

        iterator() = default;
        explicit iterator(abi_collections::IIterator<T>* walker) : walker_(walker) {
            check_hresult(walker_->get_HasCurrent(&has_current_));
        }
        value_type operator*() const {
            T raw{};
            check_hresult(walker_->get_Current(&raw));
            return element_traits<T>::adopt(raw);
        }
        iterator& operator++() {
            check_hresult(walker_->MoveNext(&has_current_));
            return *this;
        }
        void operator++(int) { ++*this; }
        bool operator==(std::default_sentinel_t) const noexcept { return !has_current_; }

    private:
        abi_collections::IIterator<T>* walker_ = nullptr;
        bool has_current_ = false;
    };

    explicit iterator_range(com_ptr<abi_collections::IIterator<T>> walker) : walker_(std::move(walker)) {}
    iterator begin() const { return iterator(walker_.get()); }
    std::default_sentinel_t end() const noexcept { return {}; }

private:
    com_ptr<abi_collections::IIterator<T>> walker_;
};

// Walks any collection that answers IIterable<T> (IVector, IVectorView, IObservableVector, ...).
template <template <typename> typename Collection, typename T>
iterator_range<T> iterate(Collection<T>* collection) {
    check_pointer(collection);
    com_ptr<abi_collections::IIterable<T>> iterable;
    check_hresult(collection->QueryInterface(abi_collections::IIterable<T>::iid, iterable.put_void()));
    com_ptr<abi_collections::IIterator<T>> first;
    check_hresult(iterable->First(first.put()));
    return iterator_range<T>(std::move(first));
}

}  // namespace zorvik::rt
