// The data behind a random-access stream and its clones, and the queue that applies their
// operations one at a time in the order they were issued.
#pragma once

#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>

#include "zorvik/runtime/errors.h"

namespace zorvik::rt {

class stream_store : public std::enable_shared_from_this<stream_store> {
public:
    virtual ~stream_store() = default;

    virtual const char* class_name() const noexcept = 0;
    virtual bool can_write() const noexcept = 0;

    // Called only from the queue (post or run). read_at reads up to count bytes, fewer only at
    // the end of the data; write_at writes all count bytes, zero-filling any gap before position.
    virtual std::uint32_t read_at(std::uint64_t position, std::uint8_t* bytes, std::uint32_t count) = 0;
    virtual void write_at(std::uint64_t position, const std::uint8_t* bytes, std::uint32_t count) = 0;
    virtual std::uint64_t size() = 0;
    virtual void set_size(std::uint64_t size) = 0;
    virtual void flush() = 0;

    // Queues work behind everything issued before it; it runs on the thread pool and its result
    // or exception lands in the returned future.
    template <typename Work>
    std::shared_future<std::invoke_result_t<Work&>> post(Work work) {
        auto task = std::make_shared<std::packaged_task<std::invoke_result_t<Work&>()>>(std::move(work));
        auto result = task->get_future().share();
        enqueue([task] { (*task)(); });
        return result;
    }

    // Runs work on the calling thread once everything issued before it is done.
    template <typename Work>
    std::invoke_result_t<Work&> run(Work work) {
        if (!try_claim()) return post(std::move(work)).get();
        claim_release release{this};
        return work();
    }

    // Applies work that cannot fail in its turn without waiting for it: at once if nothing is
    // pending, else queued.
    template <typename Work>
    void apply(Work work) {
        if (!try_claim()) {
            post(std::move(work));
            return;
        }
        claim_release release{this};
        work();
    }

private:
    struct claim_release {
        stream_store* store;
        ~claim_release() { store->release_claim(); }
    };

    void enqueue(std::function<void()> item);
    // Claims an idle queue for the calling thread; release_claim hands it back.
    bool try_claim();
    void release_claim() noexcept;
    void start_draining() noexcept;
    void drain() noexcept;

    std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
    bool busy_ = false;  // someone is applying operations; while false the queue is empty
};

}  // namespace zorvik::rt
