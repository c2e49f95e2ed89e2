// CreateFile2 and the file functions over POSIX descriptors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <memory>
#include <string>

#include "win32_handles.h"
#include "zorvik/runtime/com_ptr.h"

namespace {

using namespace zorvik::rt::win32;

class file_object final : public kernel_object {
public:
    file_object(int fd, bool readable, bool writable, bool regular) : fd(fd), readable(readable), writable(writable), regular(regular) {}
    ~file_object() override { ::close(fd); }
    file_object(const file_object&) = delete;
    file_object& operator=(const file_object&) = delete;

    const int fd;
    const bool readable;
    const bool writable;
    const bool regular;  // reads are short only at the end of the file
};

// Owns a descriptor until a file object takes it over.
struct fd_owner {
    explicit fd_owner(int fd) : fd(fd) {}
    fd_owner(const fd_owner&) = delete;
    fd_owner& operator=(const fd_owner&) = delete;
    ~fd_owner() {
        if (fd >= 0) ::close(fd);
    }
    int fd;
};

int open_retrying(const char* path, int flags, mode_t mode) {
    int fd;
    do fd = ::open(path, flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens for the disposition; `existed` tells whether the file was already there.
int open_for_disposition(const char* path, int flags, mode_t mode, DWORD disposition, bool& existed) {
    existed = true;
    switch (disposition) {
    case OPEN_EXISTING: return open_retrying(path, flags, mode);
    case TRUNCATE_EXISTING: return open_retrying(path, flags | O_TRUNC, mode);
    case CREATE_NEW: existed = false; return open_retrying(path, flags | O_CREAT | O_EXCL, mode);
    case CREATE_ALWAYS:
    case OPEN_ALWAYS: {
        const int existing_flags = disposition == CREATE_ALWAYS ? flags | O_TRUNC : flags;
        // Create exclusively first, to learn whether it existed; retry after a racing delete.
        for (int attempt = 0; attempt < 3; ++attempt) {
            int fd = open_retrying(path, flags | O_CREAT | O_EXCL, mode);
            if (fd >= 0 || errno != EEXIST) {
                existed = false;
                return fd;
            }
            fd = open_retrying(path, existing_flags, mode);
            if (fd >= 0 || errno != ENOENT) return fd;
        }
        // Still both there and missing: a symbolic link to a missing file, whose target we create.
        existed = false;
        return open_retrying(path, existing_flags | O_CREAT, mode);
    }
    default: errno = EINVAL; return -1;
    }
}

void advise(int fd, DWORD fileFlags) {
    if (fileFlags & FILE_FLAG_SEQUENTIAL_SCAN) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if (fileFlags & FILE_FLAG_RANDOM_ACCESS) ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
}

}  // namespace

HANDLE CreateFile2(LPCWSTR path, DWORD desiredAccess, DWORD /*shareMode*/, DWORD creationDisposition,
                   CREATEFILE2_EXTENDED_PARAMETERS* parameters) {
    if (!path || creationDisposition < CREATE_NEW || creationDisposition > TRUNCATE_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (!*path) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const bool readable = desiredAccess & (GENERIC_READ | GENERIC_ALL);
    const bool writable = desiredAccess & (GENERIC_WRITE | GENERIC_ALL);
    if (creationDisposition == TRUNCATE_EXISTING && !writable) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const DWORD attributes = parameters ? parameters->dwFileAttributes : FILE_ATTRIBUTE_NORMAL;
    const DWORD fileFlags = parameters ? parameters->dwFileFlags : 0;
    const mode_t mode = (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    const int flags = O_CLOEXEC | (writable ? (readable ? O_RDWR : O_WRONLY) : O_RDONLY);
    try {
        const std::string utf8 = zorvik::rt::to_utf8(path);
        bool existed = false;
        fd_owner opened(open_for_disposition(utf8.c_str(), flags, mode, creationDisposition, existed));
        if (opened.fd < 0) {
            const bool creating = creationDisposition != OPEN_EXISTING && creationDisposition != TRUNCATE_EXISTING;
            fail_with(creating && errno == ENOENT ? ERROR_PATH_NOT_FOUND : zorvik::rt::win32_error_from_errno(errno));
            return INVALID_HANDLE_VALUE;
        }
        struct stat status {};
        if (::fstat(opened.fd, &status) != 0) {
            fail_with_errno();
            return INVALID_HANDLE_VALUE;
        }
        // The store platform opens no folders without backup semantics.
        if (S_ISDIR(status.st_mode)) {
            fail_with(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        advise(opened.fd, fileFlags);
        auto file = std::make_shared<file_object>(opened.fd, readable, writable, S_ISREG(status.st_mode));
        opened.fd = -1;
        HANDLE handle = insert_handle(std::move(file));
        const bool replaced = creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS;
        SetLastError(existed && replaced ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
        return handle;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
}

BOOL ReadFile(HANDLE handle, void* buffer, DWORD bytesToRead, DWORD* bytesRead, OVERLAPPED* overlapped) {
    if (bytesRead) *bytesRead = 0;
    const auto file = find_handle<file_object>(handle);
    if (!file) return FALSE;
    if ((!buffer && bytesToRead) || overlapped) return fail_with(ERROR_INVALID_PARAMETER);
    if (!file->readable) return fail_with(ERROR_ACCESS_DENIED);
    auto* bytes = static_cast<std::byte*>(buffer);
    DWORD done = 0;
    while (done < bytesToRead) {
        const ssize_t count = ::read(file->fd, bytes + done, bytesToRead - done);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            if (bytesRead) *bytesRead = done;
            return fail_with_errno();
        }
        done += static_cast<DWORD>(count);
        if (count == 0 || !file->regular) break;
    }
    if (bytesRead) *bytesRead = done;
    return TRUE;
}

BOOL WriteFile(HANDLE handle, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten, OVERLAPPED* overlapped) {
    if (bytesWritten) *bytesWritten = 0;
    const auto file = find_handle<file_object>(handle);
    if (!file) return FALSE;
    if ((!buffer && bytesToWrite) || overlapped) return fail_with(ERROR_INVALID_PARAMETER);
    if (!file->writable) return fail_with(ERROR_ACCESS_DENIED);
    const auto* bytes = static_cast<const std::byte*>(buffer);
    DWORD done = 0;
    while (done < bytesToWrite) {
        const ssize_t count = ::write(file->fd, bytes + done, bytesToWrite - done);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            if (bytesWritten) *bytesWritten = done;
            return count == 0 ? fail_with(ERROR_DISK_FULL) : fail_with_errno();
        }
        done += static_cast<DWORD>(count);
    }
    if (bytesWritten) *bytesWritten = done;
    return TRUE;
}

BOOL SetFilePointerEx(HANDLE handle, LARGE_INTEGER distance, LARGE_INTEGER* newPosition, DWORD moveMethod) {
    const auto file = find_handle<file_object>(handle);
    if (!file) return FALSE;
    static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (moveMethod > FILE_END) return fail_with(ERROR_INVALID_PARAMETER);
    const off_t position = ::lseek(file->fd, distance.QuadPart, kWhence[moveMethod]);
    if (position < 0) return errno == EINVAL ? fail_with(ERROR_NEGATIVE_SEEK) : fail_with_errno();
    if (newPosition) newPosition->QuadPart = position;
    return TRUE;
}

BOOL GetFileSizeEx(HANDLE handle, LARGE_INTEGER* size) {
    const auto file = find_handle<file_object>(handle);
    if (!file) return FALSE;
    if (!size) return fail_with(ERROR_INVALID_PARAMETER);
    struct stat status {};
    if (::fstat(file->fd, &status) != 0) return fail_with_errno();
    size->QuadPart = status.st_size;
    return TRUE;
}

BOOL SetEndOfFile(HANDLE handle) {
    const auto file = find_handle<file_object>(handle);
    if (!file) return FALSE;
    if (!file->writable) return fail_with(ERROR_ACCESS_DENIED);
    const off_t position = ::lseek(file->fd, 0, SEEK_CUR);
    if (position < 0 || ::ftruncate(file->fd, position) != 0) return fail_with_errno();
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE handle) {
    const auto file = find_handle<file_object>(handle);
    if (!file) return FALSE;
    if (!file->writable) return fail_with(ERROR_ACCESS_DENIED);
    if (::fsync(file->fd) != 0) return fail_with_errno();
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR path) {
    if (!path) return fail_with(ERROR_INVALID_PARAMETER);
    if (!*path) return fail_with(ERROR_PATH_NOT_FOUND);
    try {
        if (::unlink(zorvik::rt::to_utf8(path).c_str()) != 0) return fail_with_errno();
        return TRUE;
    } catch (...) {
        return fail_with(ERROR_NOT_ENOUGH_MEMORY);
    }
}
