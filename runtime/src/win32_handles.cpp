// Last error, process identity, the handle table and CloseHandle.
#include "win32_handles.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <unordered_map>

namespace zorvik::rt {

DWORD win32_error_from_errno(int error) noexcept {
    switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EROFS: return ERROR_WRITE_PROTECT;
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EAGAIN: return ERROR_LOCK_VIOLATION;
    case ENOSYS:
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ENOSPC: return ERROR_DISK_FULL;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EBUSY: return ERROR_BUSY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EFBIG:
    case EOVERFLOW: return ERROR_FILE_TOO_LARGE;
    case EIO: return ERROR_IO_DEVICE;
    case EDQUOT: return ERROR_DISK_QUOTA_EXCEEDED;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    default: return ERROR_GEN_FAILURE;
    }
}

namespace win32 {

namespace {

thread_local DWORD t_last_error = ERROR_SUCCESS;

// Handle values are never reused, so a stale handle cannot reach a newer object.
class handle_table {
public:
    HANDLE insert(std::shared_ptr<kernel_object> object) {
        std::lock_guard lock(mutex_);
        next_ += 4;
        objects_.emplace(next_, std::move(object));
        return reinterpret_cast<HANDLE>(next_);
    }

    std::shared_ptr<kernel_object> find(HANDLE handle) {
        std::lock_guard lock(mutex_);
        const auto found = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
        return found == objects_.end() ? nullptr : found->second;
    }

    // The object is destroyed outside the lock: closing it may block briefly.
    std::shared_ptr<kernel_object> remove(HANDLE handle) {
        std::lock_guard lock(mutex_);
        const auto found = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
        if (found == objects_.end()) return nullptr;
        auto object = std::move(found->second);
        objects_.erase(found);
        return object;
    }

private:
    std::mutex mutex_;
    std::unordered_map<std::uintptr_t, std::shared_ptr<kernel_object>> objects_;
    std::uintptr_t next_ = 0;
};

// Never destroyed: handles still open at exit must stay valid for other static destructors.
handle_table& table() {
    static auto* instance = new handle_table;
    return *instance;
}

}  // namespace

HANDLE insert_handle(std::shared_ptr<kernel_object> object) { return table().insert(std::move(object)); }

std::shared_ptr<kernel_object> find_object(HANDLE handle) { return table().find(handle); }

BOOL fail_with_errno() noexcept { return fail_with(win32_error_from_errno(errno)); }

}  // namespace win32
}  // namespace zorvik::rt

using namespace zorvik::rt::win32;

DWORD GetLastError() { return t_last_error; }

void SetLastError(DWORD error) { t_last_error = error; }

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

DWORD GetCurrentThreadId() { return static_cast<DWORD>(gettid()); }

BOOL CloseHandle(HANDLE handle) {
    if (!table().remove(handle)) return fail_with(ERROR_INVALID_HANDLE);
    return TRUE;
}
