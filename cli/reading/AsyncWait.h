// Waiting for an operation of the component while Ctrl-C may cancel it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "cli/terminal/Interrupt.h"
#include "zorvik/runtime/async.h"
#include "zorvik/Zorvik.h"
#include "zorvik/runtime/delegate.h"

namespace Zorvik::Cli {

// Blocks for the operation's result, raising its failure like zorvik::rt::get. On Ctrl-C the
// operation is asked to cancel once; the callbacks of the operation answer cancel as well.
template <typename T>
zorvik::rt::abi_owner_t<T> Await(ABI::Windows::Foundation::IAsyncOperation<T>* operation) {
    using ABI::Windows::Foundation::AsyncStatus;
    struct Signal {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
    };
    auto signal = std::make_shared<Signal>();
    const auto handler = zorvik::rt::make_delegate<ABI::Windows::Foundation::AsyncOperationCompletedHandler<T>>(
        [signal](ABI::Windows::Foundation::IAsyncOperation<T>*, AsyncStatus) {
            std::lock_guard lock(signal->mutex);
            signal->done = true;
            signal->ended.notify_all();
        });
    zorvik::rt::check_hresult(operation->put_Completed(handler.get()));

    // The flag is set by a signal handler, which cannot wake the wait: it is looked at between
    // short waits.
    bool cancelSent = false;
    std::unique_lock lock(signal->mutex);
    while (!signal->ended.wait_for(lock, std::chrono::milliseconds(50), [&] { return signal->done; })) {
        if (!cancelSent && Interrupt::Requested()) {
            zorvik::rt::com_ptr<ABI::Windows::Foundation::IAsyncOperation<T>>::copy_from(operation)
                .template as<ABI::Windows::Foundation::IAsyncInfo>()
                ->Cancel();
            cancelSent = true;
        }
    }
    lock.unlock();
    return zorvik::rt::get(operation);
}

// The same for a projected operation: its result, or its zorvik::Error.
template <typename T>
T Await(const zorvik::Operation<T>& operation) {
    struct Signal {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
    };
    auto signal = std::make_shared<Signal>();
    operation.on_completed([signal](const zorvik::Operation<T>&) {
        std::lock_guard lock(signal->mutex);
        signal->done = true;
        signal->ended.notify_all();
    });
    bool cancelSent = false;
    std::unique_lock lock(signal->mutex);
    while (!signal->ended.wait_for(lock, std::chrono::milliseconds(50), [&] { return signal->done; })) {
        if (!cancelSent && Interrupt::Requested()) {
            operation.cancel();
            cancelSent = true;
        }
    }
    lock.unlock();
    return operation.get();
}

// Await for callers that look at a failure rather than catch it: the operation's result goes to
// result, and its failure, if any, is returned (S_OK otherwise).
template <typename T>
HRESULT AwaitOutcome(ABI::Windows::Foundation::IAsyncOperation<T>* operation, zorvik::rt::abi_owner_t<T>& result) {
    try {
        result = Await(operation);
        return S_OK;
    } catch (const zorvik::rt::hresult_error& error) {
        return error.code();
    }
}

}  // namespace Zorvik::Cli
