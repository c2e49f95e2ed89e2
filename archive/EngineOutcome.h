// How extraction and update read the engine's final HRESULT.
#pragma once

#include "zorvik/runtime/errors.h"
#include "zorvik/runtime/win32.h"

namespace Zorvik::Impl {

// Another extraction or update works on the archive file.
inline constexpr HRESULT kArchiveInUse = HRESULT_FROM_WIN32(ERROR_BUSY);
inline constexpr HRESULT kDiskFull = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
// The destination takes no more for other reasons: a file size limit, the user's disk quota.
inline constexpr HRESULT kFileTooLarge = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
inline constexpr HRESULT kQuotaExceeded = HRESULT_FROM_WIN32(ERROR_DISK_QUOTA_EXCEEDED);

// Raises the outcomes that end an operation as an error or cancelled rather than as an
// ordinary failure; returns whether the engine succeeded. S_FALSE is no success: it is a read or
// seek of the archive that failed (the adapter's answer, so that a probe only fails to open),
// passed up by the engine as it gave up.
inline bool EngineSucceeded(HRESULT result) {
    switch (result) {
    case E_NOTIMPL: throw zorvik::rt::not_implemented_error();
    case E_ABORT: throw zorvik::rt::canceled_error();
    case E_OUTOFMEMORY: throw zorvik::rt::out_of_memory_error();
    case kDiskFull:
    case kFileTooLarge:
    case kQuotaExceeded: zorvik::rt::throw_hresult(result);
    default: return result == S_OK;
    }
}

}  // namespace Zorvik::Impl
