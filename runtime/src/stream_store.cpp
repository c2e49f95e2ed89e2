#include "stream_store.h"

#include "zorvik/runtime/async.h"

namespace zorvik::rt {

void stream_store::enqueue(std::function<void()> item) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(item));
        if (busy_) return;
        busy_ = true;
    }
    start_draining();
}

bool stream_store::try_claim() {
    std::lock_guard lock(mutex_);
    if (busy_) return false;
    busy_ = true;
    return true;
}

void stream_store::release_claim() noexcept {
    {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) {
            busy_ = false;
            return;
        }
    }
    start_draining();
}

void stream_store::start_draining() noexcept {
    try {
        thread_pool_submit([self = shared_from_this()] { self->drain(); });
    } catch (...) {
        // No thread to spare: apply the queue here rather than leave it stalled.
        drain();
    }
}

void stream_store::drain() noexcept {
    std::unique_lock lock(mutex_);
    while (!queue_.empty()) {
        auto item = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        item();  // a packaged task: it keeps its own exception
        item = nullptr;
        lock.lock();
    }
    busy_ = false;
}

}  // namespace zorvik::rt
