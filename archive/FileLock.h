// A named mutex standing for one archive file, shared by every process that opens it.
#pragma once

#include <string>
#include <string_view>

#include "zorvik/runtime/win32.h"

namespace Zorvik::Impl {

class FileLock {
public:
    // Opens (or creates) the mutex named after the archive's path; failure leaves a handle
    // that can never be taken, and is otherwise silent.
    explicit FileLock(std::wstring_view archivePath);
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

    // Takes the mutex without waiting; false when another operation holds it.
    bool TryAcquire() noexcept;
    void Release() noexcept;

    // "\" becomes "_" and every character is lower-cased with the global locale, so that
    // spellings of one path share one name.
    static std::wstring NameFor(std::wstring_view archivePath);

private:
    HANDLE handle_ = nullptr;
};

}  // namespace Zorvik::Impl
