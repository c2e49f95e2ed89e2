#include "posix_error.h"

#include <cerrno>

namespace zorvik::rt {

namespace {
constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr std::uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr std::uint32_t ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr std::uint32_t ERROR_WRITE_PROTECT = 19;
constexpr std::uint32_t ERROR_DISK_FULL = 112;
constexpr std::uint32_t ERROR_ALREADY_EXISTS = 183;
constexpr std::uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
constexpr std::uint32_t ERROR_FILE_TOO_LARGE = 223;
constexpr std::uint32_t ERROR_IO_DEVICE = 1117;
}  // namespace

HRESULT hresult_from_errno(int error) noexcept {
    switch (error) {
    case ENOENT: return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case ENOTDIR: return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case EACCES:
    case EPERM:
    case EISDIR:
    case ELOOP:  // a symbolic link where O_NOFOLLOW refuses one
        return E_ACCESSDENIED;
    case EEXIST: return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    case EMFILE:
    case ENFILE: return HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES);
    case EROFS: return HRESULT_FROM_WIN32(ERROR_WRITE_PROTECT);
    case ENOSPC:
    case EDQUOT: return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    case ENAMETOOLONG: return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    case EFBIG:
    case EOVERFLOW: return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    case EIO: return HRESULT_FROM_WIN32(ERROR_IO_DEVICE);
    case ENOMEM: return E_OUTOFMEMORY;
    case EINVAL: return E_INVALIDARG;
    default: return E_FAIL;
    }
}

void throw_last_errno() { throw_hresult(hresult_from_errno(errno)); }

}  // namespace zorvik::rt
