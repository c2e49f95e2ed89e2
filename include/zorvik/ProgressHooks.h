// IOperationProgress members answered by optional hooks, shared by the ready-made callbacks.
// Without a hook the operation goes on.
#pragma once

#include <functional>

#include "zorvik/Archive.h"

namespace Zorvik::detail {

inline HRESULT report_item_count(const std::function<void(std::uint32_t)>& hook, std::uint32_t count) noexcept {
    return zorvik::rt::boundary([&] {
        if (hook) hook(count);
    });
}

// The hook's answer: 1 cancels the operation.
inline HRESULT report_progress(const std::function<std::int32_t(std::uint64_t)>& hook, std::uint64_t value, std::int32_t* answer) noexcept {
    if (!answer) return E_POINTER;
    return zorvik::rt::boundary([&] { *answer = hook ? hook(value) : 0; });
}

}  // namespace Zorvik::detail
