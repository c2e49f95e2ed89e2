// The thread pool behind asynchronous operations.
#include <pthread.h>

#include <chrono>
#include <deque>
#include <system_error>

#include "zorvik/runtime/async.h"

namespace zorvik::rt {

namespace {

// Idle threads take queued work; when none is idle a new thread starts, so the pool never
// starves work that blocks on other work. Idle threads leave after a while.
class thread_pool {
public:
    void submit(std::function<void()> work) {
        std::unique_lock lock(mutex_);
        queue_.push_back(std::move(work));
        if (idle_ >= queue_.size()) {
            ready_.notify_one();
            return;
        }
        start_worker();
    }

private:
    // A detached thread given the pool itself: unlike std::thread, nothing is allocated for the
    // new thread to own, so a process exiting before the thread runs leaks nothing (LeakSanitizer
    // reports such an allocation as a leak).
    void start_worker() {
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        pthread_t thread;
        const int error = pthread_create(
            &thread, &attributes,
            [](void* pool) -> void* {
                static_cast<thread_pool*>(pool)->run();
                return nullptr;
            },
            this);
        pthread_attr_destroy(&attributes);
        if (error) throw std::system_error(error, std::generic_category(), "thread pool");
    }

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (queue_.empty()) {
                ++idle_;
                const bool woke = ready_.wait_for(lock, kIdleLifetime, [this] { return !queue_.empty(); });
                --idle_;
                if (!woke) return;
            }
            auto work = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            work();
            work = nullptr;  // release captures outside the lock
            lock.lock();
        }
    }

    static constexpr std::chrono::seconds kIdleLifetime{20};
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> queue_;
    std::size_t idle_ = 0;
};

// Never destroyed: detached workers may still be running while the process exits.
thread_pool& pool() {
    static auto* instance = new thread_pool;
    return *instance;
}

}  // namespace

void thread_pool_submit(std::function<void()> work) { pool().submit(std::move(work)); }

namespace detail {
std::uint32_t next_async_id() noexcept {
    static std::atomic<std::uint32_t> next{1};
    return next++;
}
}  // namespace detail

}  // namespace zorvik::rt
