// The process-wide handle table behind Win32 handles.
#pragma once

#include <memory>

#include "zorvik/runtime/win32.h"

namespace zorvik::rt::win32 {

// What a handle refers to; each kind derives from it.
class kernel_object {
public:
    virtual ~kernel_object() = default;
};

// Registers an object and returns its new handle.
HANDLE insert_handle(std::shared_ptr<kernel_object> object);

std::shared_ptr<kernel_object> find_object(HANDLE handle);

// The object of a handle of kind T, or nullptr with ERROR_INVALID_HANDLE set.
template <typename T>
std::shared_ptr<T> find_handle(HANDLE handle) {
    auto object = std::dynamic_pointer_cast<T>(find_object(handle));
    if (!object) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

// Sets the last error from errno; returns FALSE for the caller to pass on.
BOOL fail_with_errno() noexcept;

inline BOOL fail_with(DWORD error) noexcept {
    SetLastError(error);
    return FALSE;
}

}  // namespace zorvik::rt::win32
