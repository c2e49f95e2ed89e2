// The Win32 subset the component and its callers use: last-error codes, files and named
// mutexes, with the store platform's names, values and semantics.
//
// Paths and names are wchar_t text; paths are converted to UTF-8 for the file system.
// Handles index a process-wide table, so a stale or foreign handle fails with
// ERROR_INVALID_HANDLE instead of touching freed memory. Handles are not inherited by programs
// started with exec.
#pragma once

#include <cstdint>
#include <utility>

#include "zorvik/runtime/base.h"

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = unsigned int;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using BOOL = int;
using WCHAR = wchar_t;
using LPCWSTR = const WCHAR*;
using HANDLE = void*;

// Macros, as elsewhere, so that headers that define them too can be included alongside.
#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))

struct LARGE_INTEGER {
    LONGLONG QuadPart;
};

struct ULARGE_INTEGER {
    ULONGLONG QuadPart;
};

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    void* lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// Win32 error codes.
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
inline constexpr DWORD ERROR_WRITE_PROTECT = 19;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_LOCK_VIOLATION = 33;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
inline constexpr DWORD ERROR_FILE_EXISTS = 80;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_BROKEN_PIPE = 109;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
inline constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
inline constexpr DWORD ERROR_BUSY = 170;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_FILE_TOO_LARGE = 223;
inline constexpr DWORD ERROR_NOT_OWNER = 288;
inline constexpr DWORD ERROR_IO_DEVICE = 1117;
inline constexpr DWORD ERROR_DISK_QUOTA_EXCEEDED = 1295;
inline constexpr DWORD ERROR_INVALID_OWNER = 1307;
inline constexpr DWORD ERROR_TIMEOUT = 1460;
inline constexpr DWORD ERROR_CANT_RESOLVE_FILENAME = 1921;

ZORVIK_RUNTIME_API DWORD GetLastError() ZORVIK_RUNTIME_SYMBOL(GetLastError);
ZORVIK_RUNTIME_API void SetLastError(DWORD error) ZORVIK_RUNTIME_SYMBOL(SetLastError);
ZORVIK_RUNTIME_API DWORD GetCurrentProcessId() ZORVIK_RUNTIME_SYMBOL(GetCurrentProcessId);
ZORVIK_RUNTIME_API DWORD GetCurrentThreadId() ZORVIK_RUNTIME_SYMBOL(GetCurrentThreadId);

// Closes a file or mutex handle; FALSE with ERROR_INVALID_HANDLE for anything else.
ZORVIK_RUNTIME_API BOOL CloseHandle(HANDLE handle) ZORVIK_RUNTIME_SYMBOL(CloseHandle);

// ---- Files -------------------------------------------------------------------------------

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD GENERIC_ALL = 0x10000000;

// Accepted for compatibility; POSIX has no share modes, so they are not enforced.
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD FILE_SHARE_DELETE = 0x4;

inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;

inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;  // a file created read-only (mode 0444)
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD FILE_FLAG_RANDOM_ACCESS = 0x10000000;
inline constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000;

inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;

struct CREATEFILE2_EXTENDED_PARAMETERS {
    DWORD dwSize;
    DWORD dwFileAttributes;
    DWORD dwFileFlags;
    DWORD dwSecurityQosFlags;
    LPSECURITY_ATTRIBUTES lpSecurityAttributes;
    HANDLE hTemplateFile;
};

// Only Offset/OffsetHigh are used: they make a read or write positional (the file pointer then
// moves past the transferred bytes, as for synchronous handles on the store platform).
struct OVERLAPPED {
    std::uintptr_t Internal;
    std::uintptr_t InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
};

// CREATE_ALWAYS and OPEN_ALWAYS set ERROR_ALREADY_EXISTS when the file was there, else
// ERROR_SUCCESS. Directories cannot be opened (ERROR_ACCESS_DENIED).
ZORVIK_RUNTIME_API HANDLE CreateFile2(LPCWSTR path, DWORD desiredAccess, DWORD shareMode, DWORD creationDisposition,
                                      CREATEFILE2_EXTENDED_PARAMETERS* parameters) ZORVIK_RUNTIME_SYMBOL(CreateFile2);
// Short only at the end of the file; *bytesRead is 0 at the end.
ZORVIK_RUNTIME_API BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, OVERLAPPED* overlapped)
    ZORVIK_RUNTIME_SYMBOL(ReadFile);
// Writes everything or fails; *bytesWritten tells how much reached the file either way.
ZORVIK_RUNTIME_API BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten, OVERLAPPED* overlapped)
    ZORVIK_RUNTIME_SYMBOL(WriteFile);
ZORVIK_RUNTIME_API BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, LARGE_INTEGER* newPosition, DWORD moveMethod)
    ZORVIK_RUNTIME_SYMBOL(SetFilePointerEx);
ZORVIK_RUNTIME_API BOOL GetFileSizeEx(HANDLE file, LARGE_INTEGER* size) ZORVIK_RUNTIME_SYMBOL(GetFileSizeEx);
// Truncates or extends the file to the file pointer.
ZORVIK_RUNTIME_API BOOL SetEndOfFile(HANDLE file) ZORVIK_RUNTIME_SYMBOL(SetEndOfFile);
ZORVIK_RUNTIME_API BOOL FlushFileBuffers(HANDLE file) ZORVIK_RUNTIME_SYMBOL(FlushFileBuffers);
ZORVIK_RUNTIME_API BOOL DeleteFileW(LPCWSTR path) ZORVIK_RUNTIME_SYMBOL(DeleteFileW);

// ---- Named mutexes -----------------------------------------------------------------------
//
// A mutex is owned by a thread, recursively; a named one excludes every thread of every process
// of the user that opens the same name (names are case-sensitive and may hold any character).
// It is abandoned when its owning thread ends or its owning process dies while holding it: the
// next waiter gets WAIT_ABANDONED and owns it. A name exists while some process has a handle
// to it open. Unnamed mutexes (nullptr or empty name) are private to the process. Access masks
// and the alertable flag are accepted and ignored. Mutex handles from before a fork are invalid
// in the child, but the child keeps the parent's locks alive until it execs or exits.

inline constexpr DWORD CREATE_MUTEX_INITIAL_OWNER = 0x1;
inline constexpr DWORD SYNCHRONIZE = 0x00100000;
inline constexpr DWORD MUTEX_MODIFY_STATE = 0x0001;
inline constexpr DWORD MUTEX_ALL_ACCESS = 0x001F0001;

inline constexpr DWORD INFINITE = 0xFFFFFFFF;
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_ABANDONED = 0x80;
inline constexpr DWORD WAIT_TIMEOUT = 0x102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// Sets ERROR_ALREADY_EXISTS when the name was open somewhere (the initial-owner flag is then
// ignored), else ERROR_SUCCESS. nullptr on failure; with ERROR_INVALID_OWNER for a named mutex
// when there is no folder for the user's lock files that other users cannot take (the user's
// runtime folder, else zorvik-mutex-<uid> in /dev/shm, $TMPDIR or /tmp, each made by another
// user first).
ZORVIK_RUNTIME_API HANDLE CreateMutexExW(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name, DWORD flags, DWORD desiredAccess)
    ZORVIK_RUNTIME_SYMBOL(CreateMutexExW);
// nullptr with ERROR_FILE_NOT_FOUND when no process has the name open.
ZORVIK_RUNTIME_API HANDLE OpenMutexW(DWORD desiredAccess, BOOL inheritHandle, LPCWSTR name) ZORVIK_RUNTIME_SYMBOL(OpenMutexW);
ZORVIK_RUNTIME_API DWORD WaitForSingleObjectEx(HANDLE handle, DWORD milliseconds, BOOL alertable)
    ZORVIK_RUNTIME_SYMBOL(WaitForSingleObjectEx);
// FALSE with ERROR_NOT_OWNER unless the calling thread owns the mutex.
ZORVIK_RUNTIME_API BOOL ReleaseMutex(HANDLE mutex) ZORVIK_RUNTIME_SYMBOL(ReleaseMutex);

namespace zorvik::rt {

// The Win32 error code for an errno value.
ZORVIK_RT_EXPORT DWORD win32_error_from_errno(int error) noexcept;

// Owns a handle; both failure values (nullptr, INVALID_HANDLE_VALUE) count as empty.
class unique_handle {
public:
    unique_handle() noexcept = default;
    explicit unique_handle(HANDLE handle) noexcept : handle_(handle) {}
    unique_handle(unique_handle&& other) noexcept : handle_(other.release()) {}
    unique_handle& operator=(unique_handle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~unique_handle() { reset(); }

    HANDLE get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ && handle_ != INVALID_HANDLE_VALUE; }
    [[nodiscard]] HANDLE release() noexcept { return std::exchange(handle_, nullptr); }
    void reset(HANDLE handle = nullptr) noexcept {
        if (*this) CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_ = nullptr;
};

}  // namespace zorvik::rt
