// What the reader's units share and callers of UnRAR.h need not see: the results they return,
// and the parts of the library's callback and error state that opening and extraction both set.
#pragma once

#include "rar.hpp"

#include <cstdint>
#include <limits>

#include "rar/UnRAR.Shared/UnRAR.h"

namespace UnRAR {

inline constexpr HRESULT_t kOk = 0;
inline constexpr HRESULT_t kFalse = 1;
inline constexpr HRESULT_t kAbort = static_cast<HRESULT_t>(0x80004004);
inline constexpr HRESULT_t kFail = static_cast<HRESULT_t>(0x80004005);
inline constexpr HRESULT_t kOutOfMemory = static_cast<HRESULT_t>(0x8007000E);

// Asks for a password into a buffer of our size and copies it into the library's buffer, never
// past either.
template <typename Ask>
void FillPassword(Ask&& ask, wchar_t* destination, LPARAM destinationSize) {
    if (!destination || destinationSize <= 0) return;
    wchar_t buffer[kPasswordBufferSize] = {};
    ask(buffer);
    buffer[kPasswordBufferSize - 1] = 0;
    wcsncpyz(destination, buffer, static_cast<size_t>(destinationSize));
    cleandata(buffer, sizeof(buffer));
}

// The library's ask-for-volume message (narrow or wide) is answered with "missing": any other
// answer that leaves the name unchanged makes the library try the same name again forever.
inline bool IsVolumeRequest(UINT message, LPARAM mode) {
    return (message == UCM_CHANGEVOLUMEW || message == UCM_CHANGEVOLUME) && mode == RAR_VOL_ASK;
}

// The library keeps one error record for the process; each open and extraction starts it afresh.
inline void ResetErrorState() { ErrHandler.Clean(); }

// Points the library's callback at the open callback, as an open leaves it and an extraction
// restores it.
void UseOpenCallback(Archive& archive, IOpenCallback* callback);

inline std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

}  // namespace UnRAR
