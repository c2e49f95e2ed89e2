// Readable reasons for failures the platform reports as HRESULTs or errno values.
#pragma once

#include <string>

#include "zorvik/runtime/base.h"

namespace Zorvik::Cli {

inline constexpr HRESULT kArchiveBusy = HRESULT_FROM_WIN32(0xAA);  // ERROR_BUSY: the file lock is held
inline constexpr HRESULT kDiskFull = HRESULT_FROM_WIN32(0x70);
inline constexpr HRESULT kFileTooLarge = HRESULT_FROM_WIN32(223);    // ERROR_FILE_TOO_LARGE: EFBIG
inline constexpr HRESULT kQuotaExceeded = HRESULT_FROM_WIN32(1295);  // ERROR_DISK_QUOTA_EXCEEDED: EDQUOT

std::string Describe(HRESULT hr);
std::string DescribeErrno(int error);

}  // namespace Zorvik::Cli
