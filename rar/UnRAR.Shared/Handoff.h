// The two-thread hand-off of one extraction: the decoding thread posts events (an item's start,
// its decoded bytes, its end, and calls it needs made on the other thread) into a bounded queue,
// and the delivering thread takes them in order and makes every callback.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "rar/UnRAR.Shared/ReaderInternals.h"
#include "rar/UnRAR.Shared/UnRAR.h"

namespace UnRAR {

// What the decoding thread hands to the delivering thread, in order.
struct Event {
    enum class Kind {
        Begin,  // the item's header was read
        Open,   // its data follows: its streams are asked for
        Data,   // decoded bytes of the item
        End,    // the item's result
        Call,   // work the decoding thread needs done on the delivering thread
    };
    Kind kind = Kind::Begin;
    std::size_t step = 0;
    std::vector<std::uint8_t> data;
    std::int32_t result = kResultOk;
    HRESULT_t outcome = kOk;
    // What the decoded data showed, when it was taken.
    enum class Check { Passed, HashMismatch, GoesOnInMissingVolume };
    Check check = Check::Passed;
    const std::function<void()>* call = nullptr;
};

// Thrown on the decoding thread once delivery has stopped: nobody wants what it decodes.
struct DecodingStopped {};

// The meeting point of the two threads of an extraction. Decoded bytes waiting here are bounded:
// the decoding side blocks beyond that, and while the delivering side runs a call for it. Once
// delivery stops, every blocking call of the decoding side throws DecodingStopped.
class Handoff {
public:
    // Decoded data the decoding thread may have ahead of delivery.
    static constexpr std::size_t kAheadBytes = 16 << 20;

    void Post(Event event) {
        std::unique_lock lock(mutex_);
        Enqueue(lock, std::move(event));
    }

    // Runs call on the delivering thread, between the events posted before and after it.
    void Call(const std::function<void()>& call) {
        Event event;
        event.kind = Event::Kind::Call;
        event.call = &call;
        std::unique_lock lock(mutex_);
        Enqueue(lock, std::move(event));
        const std::uint64_t ticket = ++callsPosted_;
        taken_.wait(lock, [&] { return stopped_ || callsDone_ == ticket; });
        if (callsDone_ != ticket) throw DecodingStopped();
    }

    // The decoding thread's last word: kOk once every item was posted, else the failure that
    // ended it. Allocates nothing, so that it cannot fail.
    void Finish(HRESULT_t result) noexcept {
        std::lock_guard lock(mutex_);
        finished_ = true;
        result_ = result;
        posted_.notify_one();
    }

    bool IsStopped() {
        std::lock_guard lock(mutex_);
        return stopped_;
    }

    // The next event, or nothing once the decoding thread has finished and every event was
    // taken (FinalResult then says how it ended).
    std::optional<Event> Take() {
        std::unique_lock lock(mutex_);
        posted_.wait(lock, [&] { return !events_.empty() || finished_; });
        if (events_.empty()) return std::nullopt;
        Event event = std::move(events_.front());
        events_.pop_front();
        queuedBytes_ -= event.data.size();
        taken_.notify_one();
        return event;
    }

    HRESULT_t FinalResult() {
        std::lock_guard lock(mutex_);
        return result_;
    }

    void CallDone() {
        std::lock_guard lock(mutex_);
        ++callsDone_;
        taken_.notify_one();
    }

    void Stop() {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        events_.clear();
        queuedBytes_ = 0;
        taken_.notify_one();
    }

private:
    void Enqueue(std::unique_lock<std::mutex>& lock, Event event) {
        const std::size_t size = event.data.size();
        taken_.wait(lock, [&] { return stopped_ || queuedBytes_ == 0 || queuedBytes_ + size <= kAheadBytes; });
        if (stopped_) throw DecodingStopped();
        queuedBytes_ += size;
        events_.push_back(std::move(event));
        posted_.notify_one();
    }

    std::mutex mutex_;
    std::condition_variable posted_;
    std::condition_variable taken_;
    std::deque<Event> events_;
    std::size_t queuedBytes_ = 0;
    std::uint64_t callsPosted_ = 0;
    std::uint64_t callsDone_ = 0;
    bool stopped_ = false;
    bool finished_ = false;
    HRESULT_t result_ = kOk;
};

// Where the library writes an item's decoded data: into the handoff, in pieces of at most 1 MiB.
class HandoffSink final : public IOutputStream {
public:
    explicit HandoffSink(Handoff& handoff) : handoff_(handoff) {}

    bool Write(const void* buffer, std::uint32_t size, std::uint32_t* processed) override {
        constexpr std::uint32_t kPiece = 1 << 20;
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        for (std::uint32_t done = 0; done < size;) {
            const std::uint32_t piece = std::min(size - done, kPiece);
            Event event;
            event.kind = Event::Kind::Data;
            event.data.assign(bytes + done, bytes + done + piece);
            handoff_.Post(std::move(event));
            done += piece;
        }
        if (processed) *processed = size;
        return true;
    }
    bool Seek(std::int64_t, std::int32_t) override { return false; }

private:
    Handoff& handoff_;
};

// The open callback as the decoding thread sees it: every call runs on the delivering thread,
// so that the application hears from one thread at a time.
class DeliveredOpenCallback final : public IOpenCallback {
public:
    DeliveredOpenCallback(std::shared_ptr<IOpenCallback> callback, Handoff& handoff) : callback_(std::move(callback)), handoff_(handoff) {}

    std::wstring GetArchiveName() override {
        std::wstring name;
        handoff_.Call([&] { name = callback_->GetArchiveName(); });
        return name;
    }
    HRESULT_t OpenVolume(const std::wstring& name, std::shared_ptr<IInputStream>& stream) override {
        HRESULT_t result = kFail;
        handoff_.Call([&] { result = callback_->OpenVolume(name, stream); });
        return result;
    }
    HRESULT_t GetPassword(wchar_t* buffer) override {
        HRESULT_t result = kFail;
        handoff_.Call([&] { result = callback_->GetPassword(buffer); });
        return result;
    }

private:
    std::shared_ptr<IOpenCallback> callback_;
    Handoff& handoff_;
};

}  // namespace UnRAR
