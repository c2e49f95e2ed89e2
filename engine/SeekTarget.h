// Where an engine seek lands, computed without wrapping around.
#pragma once

#include <cstdint>
#include <limits>

#include "zorvik/runtime/win32.h"

namespace Zorvik::Impl {

// The engine's answer to a seek origin it does not know.
inline constexpr HRESULT STG_E_INVALIDFUNCTION = static_cast<HRESULT>(0x80030001);
// A seek that would land before the start of the stream.
inline constexpr HRESULT E_NEGATIVE_SEEK = HRESULT_FROM_WIN32(ERROR_NEGATIVE_SEEK);

// base + offset; before the start is E_NEGATIVE_SEEK and past 2^64 E_INVALIDARG, never a huge
// position far beyond the end.
inline HRESULT SeekTarget(std::int64_t offset, std::uint64_t base, std::uint64_t& target) noexcept {
    if (offset < 0) {
        const std::uint64_t back = static_cast<std::uint64_t>(-(offset + 1)) + 1;
        if (back > base) return E_NEGATIVE_SEEK;
        target = base - back;
        return S_OK;
    }
    if (static_cast<std::uint64_t>(offset) > std::numeric_limits<std::uint64_t>::max() - base) return E_INVALIDARG;
    target = base + static_cast<std::uint64_t>(offset);
    return S_OK;
}

}  // namespace Zorvik::Impl
