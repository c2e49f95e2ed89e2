// implements<Class, Interfaces...>: QueryInterface, reference counting, IInspectable and weak
// references written once for every object of the component, the runtime and its callers.
#pragma once

#include <atomic>
#include <cstring>
#include <mutex>
#include <type_traits>

#include "zorvik/runtime/com_ptr.h"

namespace zorvik::rt {

namespace detail {

// An interface that extends another one beyond IUnknown/IInspectable names it as
// `using base_interface = ...;` so that QueryInterface also answers for the base.
template <typename I, typename = void>
struct base_interface {
    using type = void;
};
template <typename I>
struct base_interface<I, std::void_t<typename I::base_interface>> {
    using type = typename I::base_interface;
};

template <typename I>
bool chain_has(REFIID iid) noexcept {
    if (iid == I::iid) return true;
    if constexpr (!std::is_void_v<typename base_interface<I>::type>) return chain_has<typename base_interface<I>::type>(iid);
    return false;
}

template <typename First, typename... Rest>
struct first_inspectable {
    using type = std::conditional_t<std::is_base_of_v<IInspectable, First>, First, typename first_inspectable<Rest...>::type>;
};
template <typename Last>
struct first_inspectable<Last> {
    using type = std::conditional_t<std::is_base_of_v<IInspectable, Last>, Last, void>;
};

// A new reference to the class name.
ZORVIK_RT_EXPORT HSTRING make_class_name(const char* name);

// Shared between an object and its weak references; outlives the object while any weak
// reference exists.
class weak_reference final : public IWeakReference {
public:
    explicit weak_reference(IInspectable* object, std::atomic<std::uint32_t>* strong) : object_(object), strong_(strong) {}

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IUnknown::iid || iid == IWeakReference::iid) {
            AddRef();
            *object = static_cast<IWeakReference*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    std::uint32_t AddRef() override { return ++refs_; }
    std::uint32_t Release() override {
        const std::uint32_t left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT Resolve(REFIID iid, IInspectable** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        IInspectable* target = nullptr;
        {
            std::lock_guard lock(mutex_);
            if (!object_) return S_OK;
            // Only an object that still has a strong reference may be revived.
            std::uint32_t count = strong_->load();
            while (count != 0 && !strong_->compare_exchange_weak(count, count + 1)) {
            }
            if (count == 0) return S_OK;
            target = object_;
        }
        const HRESULT hr = target->QueryInterface(iid, reinterpret_cast<void**>(object));
        target->Release();
        return hr;
    }
    // Called by the object as its last strong reference goes.
    void detach() noexcept {
        {
            std::lock_guard lock(mutex_);
            object_ = nullptr;
        }
        Release();
    }

private:
    std::atomic<std::uint32_t> refs_{1};  // the object's own reference plus one per weak holder
    std::mutex mutex_;
    IInspectable* object_;
    std::atomic<std::uint32_t>* strong_;
};

}  // namespace detail

template <typename Derived, typename... Interfaces>
class implements : public Interfaces... {
    using inspectable = typename detail::first_inspectable<Interfaces...>::type;
    static constexpr bool is_inspectable = !std::is_void_v<inspectable>;
    using first = std::tuple_element_t<0, std::tuple<Interfaces...>>;

public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = find(iid);
        if (!*object) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    std::uint32_t AddRef() override { return ++strong_; }
    // A new reference, unless the last one is already gone: for a cache that finds objects it
    // holds without a reference.
    bool add_ref_unless_released() noexcept {
        std::uint32_t count = strong_.load();
        while (count != 0 && !strong_.compare_exchange_weak(count, count + 1)) {
        }
        return count != 0;
    }
    std::uint32_t Release() override {
        const std::uint32_t left = --strong_;
        if (left == 0) {
            if (auto* weak = weak_.load()) weak->detach();
            delete this;
        }
        return left;
    }

    // IInspectable, for objects that implement a platform interface.
    HRESULT GetIids(std::uint32_t* count, GUID** iids) {
        if (!count || !iids) return E_POINTER;
        constexpr std::size_t n = sizeof...(Interfaces);
        const GUID all[n] = {Interfaces::iid...};
        *iids = static_cast<GUID*>(CoTaskMemAlloc(sizeof(all)));
        if (!*iids) return E_OUTOFMEMORY;
        std::memcpy(*iids, all, sizeof(all));
        *count = static_cast<std::uint32_t>(n);
        return S_OK;
    }
    HRESULT GetRuntimeClassName(HSTRING* name) {
        if (!name) return E_POINTER;
        return boundary([&] { *name = detail::make_class_name(class_name()); });
    }
    HRESULT GetTrustLevel(TrustLevel* level) {
        if (!level) return E_POINTER;
        *level = BaseTrust;
        return S_OK;
    }

protected:
    implements() = default;
    implements(const implements&) = delete;
    implements& operator=(const implements&) = delete;
    // Virtual, so that deleting through the base is sound; the slot comes after every
    // interface method and does not disturb the interfaces' layouts.
    virtual ~implements() = default;

private:
    template <typename I>
    void* find_in(REFIID iid) noexcept {
        return detail::chain_has<I>(iid) ? static_cast<I*>(this) : nullptr;
    }

    void* find(REFIID iid) noexcept {
        if (iid == IUnknown::iid) return static_cast<first*>(this);
        if constexpr (is_inspectable) {
            if (iid == IInspectable::iid) return static_cast<inspectable*>(this);
            if (iid == IWeakReferenceSource::iid) return &weak_source_;
        }
        void* found = nullptr;
        ((found = found ? found : find_in<Interfaces>(iid)), ...);
        return found;
    }

    static const char* class_name() {
        if constexpr (requires { Derived::runtime_class_name; })
            return Derived::runtime_class_name;
        else if constexpr (is_inspectable)
            return inspectable::name;
        else
            return "";
    }

    detail::weak_reference* weak_reference() {
        detail::weak_reference* existing = weak_.load();
        if (existing) return existing;
        IInspectable* self = nullptr;
        if constexpr (is_inspectable) self = static_cast<inspectable*>(this);
        auto* created = new detail::weak_reference(self, &strong_);
        if (weak_.compare_exchange_strong(existing, created)) return created;
        created->Release();
        return existing;
    }

    // A small tear-off that answers IWeakReferenceSource for its owner.
    struct weak_source final : IWeakReferenceSource {
        explicit weak_source(implements* owner) : owner(owner) {}
        HRESULT QueryInterface(REFIID iid, void** object) override { return owner->QueryInterface(iid, object); }
        std::uint32_t AddRef() override { return owner->AddRef(); }
        std::uint32_t Release() override { return owner->Release(); }
        HRESULT GetWeakReference(IWeakReference** result) override {
            if (!result) return E_POINTER;
            return boundary([&] {
                auto* weak = owner->weak_reference();
                weak->AddRef();
                *result = weak;
            });
        }
        implements* owner;
    };

    std::atomic<std::uint32_t> strong_{1};
    std::atomic<detail::weak_reference*> weak_{nullptr};
    weak_source weak_source_{this};
};

// Creates an object; the returned pointer owns the first reference.
template <typename T, typename... Args>
com_ptr<T> make(Args&&... args) {
    com_ptr<T> result;
    result.attach(new T(std::forward<Args>(args)...));
    return result;
}

// Raw interface pointer of an implementation object, for out-parameters.
template <typename I, typename T>
I* detach_as(com_ptr<T>&& object) noexcept {
    return static_cast<I*>(object.detach());
}

}  // namespace zorvik::rt
