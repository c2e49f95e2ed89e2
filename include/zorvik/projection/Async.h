// zorvik::Operation<T>: an asynchronous member's result, to wait for (get), to co_await, to
// cancel, or to be told about when it ends (on_completed, on the thread that ended it).
#pragma once

#include <condition_variable>
#include <coroutine>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "zorvik/projection/Error.h"
#include "zorvik/runtime/async.h"

namespace zorvik {

using AsyncStatus = ABI::Windows::Foundation::AsyncStatus;

namespace detail {

// How an operation ended, shared by its completion handler and every waiter.
struct operation_state {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<AsyncStatus> status;
    std::vector<std::function<void()>> continuations;

    void finish(AsyncStatus ended) {
        std::vector<std::function<void()>> waiting;
        {
            std::lock_guard lock(mutex);
            status = ended;
            waiting.swap(continuations);
        }
        done.notify_all();
        for (auto& continuation : waiting) continuation();
    }
};

// One handler type for each result type, whatever the operation makes of it.
template <typename A>
zorvik::rt::com_ptr<ABI::Windows::Foundation::AsyncOperationCompletedHandler<A>> completion_handler(
    std::shared_ptr<operation_state> state) {
    return zorvik::rt::make_delegate<ABI::Windows::Foundation::AsyncOperationCompletedHandler<A>>(
        [state = std::move(state)](ABI::Windows::Foundation::IAsyncOperation<A>*, AsyncStatus status) { state->finish(status); });
}

// The failure code of an operation that did not complete: E_ABORT for a cancel.
inline HRESULT failure_of(ABI::Windows::Foundation::IAsyncInfo* info, AsyncStatus status) {
    HRESULT code = E_ABORT;
    if (status == AsyncStatus::Error) {
        info->get_ErrorCode(&code);
        if (SUCCEEDED(code)) code = E_FAIL;
    }
    return code;
}

}  // namespace detail

// T is what get() returns (void for none). The ABI result A is turned into T by finish, and a
// failure (cancellation included) into an Error by fail, which may look at what the caller's
// hooks saw (a password that was rejected turns a cancel into WrongPassword).
template <typename T>
class Operation {
public:
    Operation() = default;

    template <typename A, typename Finish, typename Fail>
    Operation(zorvik::rt::com_ptr<ABI::Windows::Foundation::IAsyncOperation<A>> operation, Finish finish, Fail fail)
        : info_(operation.template as<ABI::Windows::Foundation::IAsyncInfo>()), state_(std::make_shared<detail::operation_state>()) {
        result_ = [operation, info = info_, finish = std::move(finish), fail = std::move(fail)](AsyncStatus status) mutable -> T {
            if (status != AsyncStatus::Completed) {
                const HRESULT code = detail::failure_of(info.get(), status);
                fail(code);
                detail::raise(code, {});  // fail did not raise: the code speaks for itself
            }
            A raw{};
            detail::check(operation->GetResults(&raw), "GetResults");
            if constexpr (std::is_void_v<T>)
                finish(zorvik::rt::adopt_abi(raw));
            else
                return finish(zorvik::rt::adopt_abi(raw));
        };
        detail::check(operation->put_Completed(detail::completion_handler<A>(state_).get()), "put_Completed");
    }

    // Blocks until the operation ends; its result, or its failure raised as an Error.
    T get() const {
        if (!state_) throw Error(ErrorCode::InvalidArgument, E_ILLEGAL_METHOD_CALL, "no operation", {"Operation::get", {}, {}});
        std::unique_lock lock(state_->mutex);
        state_->done.wait(lock, [&] { return state_->status.has_value(); });
        const AsyncStatus status = *state_->status;
        lock.unlock();
        return result_(status);
    }

    AsyncStatus status() const {
        std::lock_guard lock(state_->mutex);
        return state_->status.value_or(AsyncStatus::Started);
    }
    bool done() const { return status() != AsyncStatus::Started; }

    // Asks the operation to stop; it then ends as Cancelled (or completes, if it was too late).
    void cancel() const { info_->Cancel(); }

    // handler(*this) once the operation has ended, on the thread that ended it (at once when it
    // has ended already); handler calls get() for the outcome.
    void on_completed(std::function<void(const Operation&)> handler) const {
        Operation self = *this;
        auto call = [self, handler = std::move(handler)] { handler(self); };
        {
            std::lock_guard lock(state_->mutex);
            if (!state_->status) {
                state_->continuations.push_back(std::move(call));
                return;
            }
        }
        call();
    }

    // co_await operation: resumes on the thread that ended it.
    bool await_ready() const { return done(); }
    void await_suspend(std::coroutine_handle<> waiting) const {
        on_completed([waiting](const Operation&) { waiting.resume(); });
    }
    T await_resume() const { return get(); }

private:
    zorvik::rt::com_ptr<ABI::Windows::Foundation::IAsyncInfo> info_;
    std::shared_ptr<detail::operation_state> state_;
    std::function<T(AsyncStatus)> result_;
};

}  // namespace zorvik
