// Asynchronous operations: the platform's ABI.
#pragma once

#include "zorvik/runtime/generics.h"

namespace ABI::Windows::Foundation {

enum class AsyncStatus : std::int32_t { Started = 0, Completed = 1, Canceled = 2, Error = 3 };

struct IAsyncInfo : IInspectable {
    static constexpr GUID iid{0x00000036, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    static constexpr const char* name = "Windows.Foundation.IAsyncInfo";
    virtual HRESULT get_Id(std::uint32_t* id) = 0;
    virtual HRESULT get_Status(AsyncStatus* status) = 0;
    virtual HRESULT get_ErrorCode(HRESULT* errorCode) = 0;
    virtual HRESULT Cancel() = 0;
    virtual HRESULT Close() = 0;
};

struct IAsyncAction;

struct AsyncActionCompletedHandler : IUnknown {
    static constexpr GUID iid{0xA4ED5C81, 0x76C9, 0x40BD, {0x8B, 0xE6, 0xB1, 0xD9, 0x0F, 0xB2, 0x0A, 0xE7}};
    static constexpr const char* name = "Windows.Foundation.AsyncActionCompletedHandler";
    virtual HRESULT Invoke(IAsyncAction* asyncInfo, AsyncStatus status) = 0;
};

struct IAsyncAction : IInspectable {
    static constexpr GUID iid{0x5A648006, 0x843A, 0x4DA9, {0x86, 0x5B, 0x9D, 0x26, 0xE5, 0xDF, 0xAD, 0x7B}};
    static constexpr const char* name = "Windows.Foundation.IAsyncAction";
    virtual HRESULT put_Completed(AsyncActionCompletedHandler* handler) = 0;
    virtual HRESULT get_Completed(AsyncActionCompletedHandler** handler) = 0;
    virtual HRESULT GetResults() = 0;
};

template <typename T>
struct IAsyncOperation;

template <typename T>
struct AsyncOperationCompletedHandler : IUnknown {
    static std::string type_name() { return zorvik::rt::generic_name<T>("Windows.Foundation.AsyncOperationCompletedHandler"); }
    static inline const GUID iid = zorvik::rt::guid_from_name(type_name());
    virtual HRESULT Invoke(IAsyncOperation<T>* asyncInfo, AsyncStatus status) = 0;
};

// T is the ABI type of the result: a primitive, HSTRING or an interface pointer (owned by the
// caller of GetResults).
template <typename T>
struct IAsyncOperation : IInspectable {
    static std::string type_name() { return zorvik::rt::generic_name<T>("Windows.Foundation.IAsyncOperation"); }
    static inline const GUID iid = zorvik::rt::guid_from_name(type_name());
    virtual HRESULT put_Completed(AsyncOperationCompletedHandler<T>* handler) = 0;
    virtual HRESULT get_Completed(AsyncOperationCompletedHandler<T>** handler) = 0;
    virtual HRESULT GetResults(T* results) = 0;
};

}  // namespace ABI::Windows::Foundation
