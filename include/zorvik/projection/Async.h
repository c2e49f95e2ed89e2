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

// What an operation's end turns into: the result for the caller, or the Error to raise. Shared
// by the operation's completion handler and every waiter.
template <typename T>
struct operation_state {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<AsyncStatus> status;
    std::vector<std::function<void()>> continuations;
};

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
        : info_(operation.template as<ABI::Windows::Foundation::IAsyncInfo>()),
          state_(std::make_shared<detail::operation_state<T>>()) {
        using ABI::Windows::Foundation::AsyncOperationCompletedHandler;
        using ABI::Windows::Foundation::IAsyncOperation;
        result_ = [operation, finish = std::move(finish), fail = std::move(fail)](AsyncStatus status) mutable -> T {
            if (status != AsyncStatus::Completed) {
                HRESULT code = E_ABORT;
                if (status == AsyncStatus::Error) {
                    operation.template as<ABI::Windows::Foundation::IAsyncInfo>()->get_ErrorCode(&code);
                    if (SUCCEEDED(code)) code = E_FAIL;
                }
                fail(code);
                detail::raise(code, {});  // fail did not raise: the code speaks for itself
            }
            A raw{};
            detail::check(operation->GetResults(&raw), "GetResults");
            auto owned = zorvik::rt::adopt_abi(raw);
            if constexpr (std::is_void_v<T>)
                finish(std::move(owned));
            else
                return finish(std::move(owned));
        };
        auto state = state_;
        auto handler = zorvik::rt::make_delegate<AsyncOperationCompletedHandler<A>>([state](IAsyncOperation<A>*, AsyncStatus status) {
            std::vector<std::function<void()>> continuations;
            {
                std::lock_guard lock(state->mutex);
                state->status = status;
                continuations.swap(state->continuations);
            }
            state->done.notify_all();
            for (auto& continuation : continuations) continuation();
        });
        detail::check(operation->put_Completed(handler.get()), "put_Completed");
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
    std::shared_ptr<detail::operation_state<T>> state_;
    std::function<T(AsyncStatus)> result_;
};

}  // namespace zorvik
