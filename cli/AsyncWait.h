// Waiting for an operation of the component while Ctrl-C may cancel it.
#pragma once

#include <chrono>
#include <thread>

#include "cli/Interrupt.h"
#include "zorvik/runtime/async.h"

namespace Zorvik::Cli {

// Blocks for the operation's result, raising its failure like zorvik::rt::get. On Ctrl-C the
// operation is asked to cancel once; the callbacks of the operation answer cancel as well.
template <typename T>
zorvik::rt::abi_owner_t<T> Await(ABI::Windows::Foundation::IAsyncOperation<T>* operation) {
    using ABI::Windows::Foundation::AsyncStatus;
    const auto info = zorvik::rt::com_ptr<ABI::Windows::Foundation::IAsyncOperation<T>>::copy_from(operation)
                          .template as<ABI::Windows::Foundation::IAsyncInfo>();
    bool cancelSent = false;
    for (;;) {
        AsyncStatus status = AsyncStatus::Started;
        zorvik::rt::check_hresult(info->get_Status(&status));
        if (status != AsyncStatus::Started) break;
        if (!cancelSent && Interrupt::Requested()) {
            info->Cancel();
            cancelSent = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return zorvik::rt::get(operation);
}

}  // namespace Zorvik::Cli
