// Engine progress passed on to the caller: the IOperationProgress of the callback object the
// caller gave the operation.
#pragma once

#include "zorvik/Archive.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Impl {

using ProgressMember = HRESULT (IOperationProgress::*)(std::uint64_t, std::int32_t*);

// The caller's answer 1 asks the engine to stop (E_ABORT); a failing query or call is returned.
template <typename Callback>
HRESULT ForwardProgress(const zorvik::rt::com_ptr<Callback>& callback, ProgressMember member, std::uint64_t value) noexcept {
    constexpr std::int32_t kCancel = 1;
    return zorvik::rt::boundary([&] {
        const auto progress = callback.template as<IOperationProgress>();
        std::int32_t answer = 0;
        zorvik::rt::check_hresult((progress.get()->*member)(value, &answer));
        return answer == kCancel ? E_ABORT : S_OK;
    });
}

}  // namespace Zorvik::Impl
