// Asynchronous operations: run_async/run_action start work on the thread pool and hand back the
// platform operation, completed_async hands back one already done; get()/wait() block for an
// operation's outcome.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

#include "zorvik/runtime/async_abi.h"
#include "zorvik/runtime/delegate.h"

namespace zorvik::rt {

// Runs work on the shared thread pool. The pool grows whenever every thread is busy, so work
// that waits synchronously for other work (stream reads inside an operation) never starves it.
ZORVIK_RT_EXPORT void thread_pool_submit(std::function<void()> work);

// The owning C++ form of an ABI value: interface pointers as com_ptr, HSTRING as hstring.
template <typename T>
struct abi_owner {
    using type = T;
    static T to_abi(const T& value) { return value; }
};
template <typename I>
struct abi_owner<I*> {
    using type = com_ptr<I>;
    static I* to_abi(const com_ptr<I>& value) { return com_ptr<I>(value).detach(); }
};
template <>
struct abi_owner<HSTRING> {
    using type = hstring;
    static HSTRING to_abi(const hstring& value) { return hstring(value).detach(); }
};
template <typename T>
using abi_owner_t = typename abi_owner<T>::type;

// Adopts an owned ABI value that an out-parameter delivered.
template <typename T>
abi_owner_t<T> adopt_abi(T value) {
    if constexpr (std::is_pointer_v<T> && !std::is_same_v<T, HSTRING>) {
        abi_owner_t<T> owner;
        owner.attach(value);
        return owner;
    } else if constexpr (std::is_same_v<T, HSTRING>) {
        return hstring::attach(value);
    } else {
        return value;
    }
}

// Lets running work see whether its operation was cancelled.
class cancellation_token {
public:
    explicit cancellation_token(std::shared_ptr<std::atomic<bool>> flag) : flag_(std::move(flag)) {}
    bool canceled() const noexcept { return flag_->load(); }
    // Raises the platform's cancellation when a cancel was requested.
    void check() const {
        if (canceled()) throw canceled_error();
    }

private:
    std::shared_ptr<std::atomic<bool>> flag_;
};

namespace detail {

using ABI::Windows::Foundation::AsyncStatus;

ZORVIK_RT_EXPORT std::uint32_t next_async_id() noexcept;

// State and IAsyncInfo shared by operations and actions. Handler is the completion delegate.
template <typename Derived, typename Interface, typename Handler>
class async_base : public implements<Derived, Interface, ABI::Windows::Foundation::IAsyncInfo> {
public:
    HRESULT put_Completed(Handler* handler) override {
        com_ptr<Handler> call_now;
        {
            std::lock_guard lock(mutex_);
            if (handler_set_) return E_ILLEGAL_METHOD_CALL;
            handler_set_ = true;
            handler_ = com_ptr<Handler>::copy_from(handler);
            if (status_ != AsyncStatus::Started) call_now = std::move(handler_);
        }
        if (call_now) call_now->Invoke(static_cast<Interface*>(this), status());
        return S_OK;
    }
    HRESULT get_Completed(Handler** handler) override {
        if (!handler) return E_POINTER;
        std::lock_guard lock(mutex_);
        *handler = com_ptr<Handler>(handler_).detach();
        return S_OK;
    }
    HRESULT get_Id(std::uint32_t* id) override {
        if (!id) return E_POINTER;
        *id = id_;
        return S_OK;
    }
    HRESULT get_Status(AsyncStatus* status) override {
        if (!status) return E_POINTER;
        *status = this->status();
        return S_OK;
    }
    HRESULT get_ErrorCode(HRESULT* code) override {
        if (!code) return E_POINTER;
        std::lock_guard lock(mutex_);
        *code = error_;
        return S_OK;
    }
    HRESULT Cancel() override {
        cancel_->store(true);
        return S_OK;
    }
    HRESULT Close() override { return status() == AsyncStatus::Started ? E_ILLEGAL_METHOD_CALL : S_OK; }

    // Starts body on the pool; body produces the result and returns, or throws.
    template <typename Body>
    void start(Body body) {
        com_ptr<Derived> self = com_ptr<Derived>::copy_from(static_cast<Derived*>(this));
        thread_pool_submit([self, body = std::move(body)]() mutable { self->run_here(body); });
    }

    // Runs body on the calling thread and ends the operation with its outcome.
    template <typename Body>
    void run_here(Body& body) noexcept {
        HRESULT outcome = S_OK;
        if (cancel_->load()) {
            outcome = E_ABORT;
        } else {
            try {
                body(cancellation_token(cancel_));
            } catch (...) {
                outcome = to_hresult();
            }
        }
        finish(outcome);
    }

protected:
    AsyncStatus status() const {
        std::lock_guard lock(mutex_);
        return status_;
    }
    HRESULT check_completed() const {
        std::lock_guard lock(mutex_);
        if (status_ == AsyncStatus::Started) return E_ILLEGAL_METHOD_CALL;
        return error_;
    }

    mutable std::mutex mutex_;

private:
    void finish(HRESULT outcome) {
        com_ptr<Handler> handler;
        AsyncStatus final_status;
        {
            std::lock_guard lock(mutex_);
            error_ = outcome;
            status_ = outcome == E_ABORT ? AsyncStatus::Canceled : FAILED(outcome) ? AsyncStatus::Error : AsyncStatus::Completed;
            final_status = status_;
            handler = std::move(handler_);
        }
        if (handler) handler->Invoke(static_cast<Interface*>(this), final_status);
    }

    const std::uint32_t id_ = next_async_id();
    AsyncStatus status_ = AsyncStatus::Started;
    HRESULT error_ = S_OK;
    bool handler_set_ = false;
    com_ptr<Handler> handler_;
    std::shared_ptr<std::atomic<bool>> cancel_ = std::make_shared<std::atomic<bool>>(false);
};

template <typename T>
class async_operation final : public async_base<async_operation<T>, ABI::Windows::Foundation::IAsyncOperation<T>,
                                                ABI::Windows::Foundation::AsyncOperationCompletedHandler<T>> {
public:
    static constexpr const char* runtime_class_name = "Windows.Foundation.IAsyncOperation`1";

    HRESULT GetResults(T* results) override {
        if (!results) return E_POINTER;
        if (const HRESULT hr = this->check_completed(); hr != S_OK) return hr;
        std::lock_guard lock(this->mutex_);
        *results = abi_owner<T>::to_abi(*result_);
        return S_OK;
    }
    void set_result(abi_owner_t<T> result) {
        std::lock_guard lock(this->mutex_);
        result_ = std::move(result);
    }

private:
    std::optional<abi_owner_t<T>> result_;
};

class async_action final
    : public async_base<async_action, ABI::Windows::Foundation::IAsyncAction, ABI::Windows::Foundation::AsyncActionCompletedHandler> {
public:
    static constexpr const char* runtime_class_name = "Windows.Foundation.IAsyncAction";
    HRESULT GetResults() override { return check_completed(); }
};

template <typename Work>
decltype(auto) call_work(Work& work, const cancellation_token& token) {
    if constexpr (std::is_invocable_v<Work&, const cancellation_token&>)
        return work(token);
    else
        return work();
}

}  // namespace detail

// Starts work on the pool; work returns abi_owner_t<T> and may take a cancellation_token.
template <typename T, typename Work>
com_ptr<ABI::Windows::Foundation::IAsyncOperation<T>> run_async(Work work) {
    auto operation = make<detail::async_operation<T>>();
    detail::async_operation<T>* raw = operation.get();
    operation->start(
        [raw, work = std::move(work)](const cancellation_token& token) mutable { raw->set_result(detail::call_work(work, token)); });
    return operation;
}

// An operation that has already completed with result: for work done before it is asked for.
template <typename T>
com_ptr<ABI::Windows::Foundation::IAsyncOperation<T>> completed_async(abi_owner_t<T> result) {
    auto operation = make<detail::async_operation<T>>();
    auto body = [&](const cancellation_token&) { operation->set_result(std::move(result)); };
    operation->run_here(body);
    return operation;
}

template <typename Work>
com_ptr<ABI::Windows::Foundation::IAsyncAction> run_action(Work work) {
    auto action = make<detail::async_action>();
    action->start([work = std::move(work)](const cancellation_token& token) mutable { detail::call_work(work, token); });
    return action;
}

namespace detail {
template <typename Handler, typename Operation>
AsyncStatus wait_with(Operation* operation) {
    check_pointer(operation);
    // An operation that already ended needs no handler (and may have one set already).
    com_ptr<ABI::Windows::Foundation::IAsyncInfo> info;
    check_hresult(operation->QueryInterface(ABI::Windows::Foundation::IAsyncInfo::iid, info.put_void()));
    AsyncStatus current = AsyncStatus::Started;
    check_hresult(info->get_Status(&current));
    if (current != AsyncStatus::Started) return current;
    struct signal {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<AsyncStatus> status;
    };
    auto state = std::make_shared<signal>();
    auto handler = make_delegate<Handler>([state](Operation*, AsyncStatus status) {
        std::lock_guard lock(state->mutex);
        state->status = status;
        state->done.notify_all();
    });
    check_hresult(operation->put_Completed(handler.get()));
    std::unique_lock lock(state->mutex);
    state->done.wait(lock, [&] { return state->status.has_value(); });
    return *state->status;
}

// Raises the failure of an operation that did not complete.
template <typename Operation>
void check_status(Operation* operation, AsyncStatus status) {
    if (status == AsyncStatus::Completed) return;
    if (status == AsyncStatus::Canceled) throw_hresult(E_ABORT);
    HRESULT code = E_FAIL;
    com_ptr<ABI::Windows::Foundation::IAsyncInfo> info;
    if (SUCCEEDED(operation->QueryInterface(ABI::Windows::Foundation::IAsyncInfo::iid, info.put_void()))) info->get_ErrorCode(&code);
    throw_hresult(FAILED(code) ? code : E_FAIL);
}
}  // namespace detail

// Blocks until the operation ends and returns how it ended.
template <typename T>
ABI::Windows::Foundation::AsyncStatus wait(ABI::Windows::Foundation::IAsyncOperation<T>* operation) {
    return detail::wait_with<ABI::Windows::Foundation::AsyncOperationCompletedHandler<T>>(operation);
}
inline ABI::Windows::Foundation::AsyncStatus wait(ABI::Windows::Foundation::IAsyncAction* action) {
    return detail::wait_with<ABI::Windows::Foundation::AsyncActionCompletedHandler>(action);
}

// Blocks for the result; a failure or cancellation is raised as its platform exception.
template <typename T>
abi_owner_t<T> get(ABI::Windows::Foundation::IAsyncOperation<T>* operation) {
    detail::check_status(operation, wait(operation));
    T result{};
    check_hresult(operation->GetResults(&result));
    return adopt_abi(result);
}
inline void get(ABI::Windows::Foundation::IAsyncAction* action) {
    detail::check_status(action, wait(action));
    check_hresult(action->GetResults());
}
template <typename Operation>
decltype(auto) get(const com_ptr<Operation>& operation) {
    return get(operation.get());
}

}  // namespace zorvik::rt
