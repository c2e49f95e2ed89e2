#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "zorvik/runtime/async.h"

using namespace zorvik::rt;
using ABI::Windows::Foundation::AsyncOperationCompletedHandler;
using ABI::Windows::Foundation::AsyncStatus;
using ABI::Windows::Foundation::IAsyncOperation;

namespace {

TEST(Async, CompletesWithItsValue) {
    auto operation = run_async<std::uint32_t>([] { return 42u; });
    EXPECT_EQ(get(operation), 42u);
    AsyncStatus status{};
    ASSERT_EQ(operation.as<ABI::Windows::Foundation::IAsyncInfo>()->get_Status(&status), S_OK);
    EXPECT_EQ(status, AsyncStatus::Completed);
}

TEST(Async, ACompletedOperationHasEndedWhenHandedOut) {
    auto operation = completed_async<HSTRING>(hstring(L"done"));
    AsyncStatus status{};
    ASSERT_EQ(operation.as<ABI::Windows::Foundation::IAsyncInfo>()->get_Status(&status), S_OK);
    EXPECT_EQ(status, AsyncStatus::Completed);
    EXPECT_EQ(get(operation), L"done");
    int calls = 0;
    auto handler = make_delegate<AsyncOperationCompletedHandler<HSTRING>>([&](IAsyncOperation<HSTRING>*, AsyncStatus) { ++calls; });
    ASSERT_EQ(operation->put_Completed(handler.get()), S_OK);
    EXPECT_EQ(calls, 1) << "a handler set on an ended operation runs at once, on the caller's thread";
}

TEST(Async, HandsOutOwnedStringsAndInterfaces) {
    auto text = run_async<HSTRING>([] { return hstring(L"7zt.tmp"); });
    EXPECT_EQ(get(text), L"7zt.tmp");
    auto nested = run_async<IAsyncOperation<bool>*>([] { return run_async<bool>([] { return true; }); });
    EXPECT_TRUE(get(get(nested)));
}

TEST(Async, FailsWithTheHresultItsWorkThrew) {
    auto operation = run_async<bool>([]() -> bool { throw_hresult(HRESULT_FROM_WIN32(170)); });
    EXPECT_EQ(wait(operation.get()), AsyncStatus::Error);
    HRESULT code = S_OK;
    operation.as<ABI::Windows::Foundation::IAsyncInfo>()->get_ErrorCode(&code);
    EXPECT_EQ(code, HRESULT_FROM_WIN32(170));
    bool result = true;
    EXPECT_EQ(operation->GetResults(&result), HRESULT_FROM_WIN32(170));
    EXPECT_THROW(get(operation), hresult_error);
    auto action = run_action([] { throw std::bad_alloc(); });
    EXPECT_THROW(get(action), out_of_memory_error);
}

TEST(Async, CancelEndsTheOperationAsCanceled) {
    std::atomic<bool> started{false};
    auto operation = run_async<bool>([&](const cancellation_token& token) {
        started = true;
        while (!token.canceled()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        token.check();
        return true;
    });
    while (!started) std::this_thread::yield();
    operation.as<ABI::Windows::Foundation::IAsyncInfo>()->Cancel();
    EXPECT_EQ(wait(operation.get()), AsyncStatus::Canceled);
    EXPECT_THROW(get(operation), canceled_error);
}

TEST(Async, CompletedHandlerFiresExactlyOnceEvenWhenSetAfterCompletion) {
    for (bool late : {false, true}) {
        std::atomic<bool> release{false};
        auto operation = run_async<std::uint32_t>([&] {
            while (!release) std::this_thread::yield();
            return 7u;
        });
        if (late) {
            release = true;
            while (true) {
                AsyncStatus status{};
                operation.as<ABI::Windows::Foundation::IAsyncInfo>()->get_Status(&status);
                if (status != AsyncStatus::Started) break;
                std::this_thread::yield();
            }
        }
        std::atomic<int> calls{0};
        std::atomic<AsyncStatus> seen{AsyncStatus::Started};
        auto handler =
            make_delegate<AsyncOperationCompletedHandler<std::uint32_t>>([&](IAsyncOperation<std::uint32_t>*, AsyncStatus status) {
                seen = status;
                ++calls;
            });
        ASSERT_EQ(operation->put_Completed(handler.get()), S_OK);
        EXPECT_EQ(operation->put_Completed(handler.get()), E_ILLEGAL_METHOD_CALL);
        release = true;
        for (int i = 0; i < 2000 && calls == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(calls, 1) << (late ? "handler set after completion" : "handler set before completion");
        EXPECT_EQ(seen, AsyncStatus::Completed);
    }
}

TEST(Async, WorkWaitingOnOtherWorkNeverStarvesThePool) {
    // 64 operations each block on two inner operations, twice the pool's natural size and more.
    std::vector<com_ptr<IAsyncOperation<std::uint32_t>>> outer;
    for (std::uint32_t i = 0; i < 64; ++i)
        outer.push_back(run_async<std::uint32_t>([i] {
            const auto a = get(run_async<std::uint32_t>([i] {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                return i;
            }));
            return a + get(run_async<std::uint32_t>([] { return 1u; }));
        }));
    for (std::uint32_t i = 0; i < 64; ++i) EXPECT_EQ(get(outer[i]), i + 1);
}

}  // namespace
