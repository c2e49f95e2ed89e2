#include "posix_error.h"

#include <cerrno>

#include "zorvik/runtime/win32.h"

namespace zorvik::rt {

HRESULT hresult_from_errno(int error) noexcept {
    switch (error) {
    case EEXIST: return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);  // what storage reports for a taken name
    case ELOOP: return E_ACCESSDENIED;                             // a symbolic link refused by O_NOFOLLOW
    case ENOMEM: return E_OUTOFMEMORY;
    default: {
        const DWORD code = win32_error_from_errno(error);
        return code == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(code);
    }
    }
}

void throw_last_errno() { throw_hresult(hresult_from_errno(errno)); }

}  // namespace zorvik::rt
