// Collections: the platform's ABI. T is an ABI type (primitive, HSTRING or interface pointer);
// getters hand out owned references.
#pragma once

#include "zorvik/runtime/generics.h"

namespace ABI::Windows::Foundation {
struct EventRegistrationToken {
    std::int64_t value;
};
}  // namespace ABI::Windows::Foundation

namespace ABI::Windows::Foundation::Collections {

#define ZORVIK_RT_GENERIC(Name)                                                                                    \
    static std::string type_name() { return zorvik::rt::generic_name<T>("Windows.Foundation.Collections." Name); } \
    static inline const GUID iid = zorvik::rt::guid_from_name(type_name())

template <typename T>
struct IIterator : IInspectable {
    ZORVIK_RT_GENERIC("IIterator");
    virtual HRESULT get_Current(T* current) = 0;
    virtual HRESULT get_HasCurrent(bool* hasCurrent) = 0;
    virtual HRESULT MoveNext(bool* hasCurrent) = 0;
    virtual HRESULT GetMany(std::uint32_t capacity, T* items, std::uint32_t* actual) = 0;
};

template <typename T>
struct IIterable : IInspectable {
    ZORVIK_RT_GENERIC("IIterable");
    virtual HRESULT First(IIterator<T>** first) = 0;
};

template <typename T>
struct IVectorView : IInspectable {
    ZORVIK_RT_GENERIC("IVectorView");
    virtual HRESULT GetAt(std::uint32_t index, T* item) = 0;
    virtual HRESULT get_Size(std::uint32_t* size) = 0;
    virtual HRESULT IndexOf(T value, std::uint32_t* index, bool* found) = 0;
    virtual HRESULT GetMany(std::uint32_t startIndex, std::uint32_t capacity, T* items, std::uint32_t* actual) = 0;
};

template <typename T>
struct IVector : IInspectable {
    ZORVIK_RT_GENERIC("IVector");
    virtual HRESULT GetAt(std::uint32_t index, T* item) = 0;
    virtual HRESULT get_Size(std::uint32_t* size) = 0;
    virtual HRESULT GetView(IVectorView<T>** view) = 0;
    virtual HRESULT IndexOf(T value, std::uint32_t* index, bool* found) = 0;
    virtual HRESULT SetAt(std::uint32_t index, T item) = 0;
    virtual HRESULT InsertAt(std::uint32_t index, T item) = 0;
    virtual HRESULT RemoveAt(std::uint32_t index) = 0;
    virtual HRESULT Append(T item) = 0;
    virtual HRESULT RemoveAtEnd() = 0;
    virtual HRESULT Clear() = 0;
    virtual HRESULT GetMany(std::uint32_t startIndex, std::uint32_t capacity, T* items, std::uint32_t* actual) = 0;
    virtual HRESULT ReplaceAll(std::uint32_t count, T* items) = 0;
};

enum class CollectionChange : std::int32_t { Reset = 0, ItemInserted = 1, ItemRemoved = 2, ItemChanged = 3 };

struct IVectorChangedEventArgs : IInspectable {
    static constexpr GUID iid{0x575933DF, 0x34FE, 0x4480, {0xAF, 0x15, 0x07, 0x69, 0x1F, 0x3D, 0x5D, 0x9B}};
    static constexpr const char* name = "Windows.Foundation.Collections.IVectorChangedEventArgs";
    virtual HRESULT get_CollectionChange(CollectionChange* change) = 0;
    virtual HRESULT get_Index(std::uint32_t* index) = 0;
};

template <typename T>
struct IObservableVector;

template <typename T>
struct VectorChangedEventHandler : IUnknown {
    ZORVIK_RT_GENERIC("VectorChangedEventHandler");
    virtual HRESULT Invoke(IObservableVector<T>* sender, IVectorChangedEventArgs* args) = 0;
};

// Also implements IVector<T> and IIterable<T>.
template <typename T>
struct IObservableVector : IInspectable {
    ZORVIK_RT_GENERIC("IObservableVector");
    virtual HRESULT add_VectorChanged(VectorChangedEventHandler<T>* handler, EventRegistrationToken* token) = 0;
    virtual HRESULT remove_VectorChanged(EventRegistrationToken token) = 0;
};

#undef ZORVIK_RT_GENERIC

}  // namespace ABI::Windows::Foundation::Collections
