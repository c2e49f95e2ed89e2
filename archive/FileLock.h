// A named mutex standing for one archive file, shared by every process that opens it.
#pragma once

#include <string>
#include <string_view>

#include "zorvik/runtime/win32.h"

namespace Zorvik::Impl {

class FileLock {
public:
    // Opens (or creates) the mutex named after the archive's path; failure leaves no handle,
    // and is told only by Failure.
    explicit FileLock(std::wstring_view archivePath);
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

    // Takes the mutex without waiting; false when another operation holds it, or when there is
    // no mutex.
    bool TryAcquire() noexcept;
    void Release() noexcept;
    // Why there is no mutex (the platform's error); S_OK when there is one.
    HRESULT Failure() const noexcept { return handle_ ? S_OK : HRESULT_FROM_WIN32(creationError_); }

    // "\" becomes "_" and every character is lower-cased with the global locale, so that
    // spellings of one path share one name.
    static std::wstring NameFor(std::wstring_view archivePath);

private:
    HANDLE handle_ = nullptr;
    DWORD creationError_ = ERROR_SUCCESS;
};

}  // namespace Zorvik::Impl
