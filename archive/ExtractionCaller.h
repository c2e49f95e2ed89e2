// The caller's extraction callback as every run of one extraction shares it. Runs decode and
// write on threads of their own, but the caller hears them one call at a time: each call is
// made in the caller's turn, and what the runs share (the password last given, the progress of
// all of them as one total and one completed count, and whether the extraction must stop) is
// touched only in it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "zorvik/Extraction.h"
#include "zorvik/runtime/async.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Impl {

class ExtractionCaller {
public:
    // estimates holds, for each run, the bytes it is expected to decode: the progress total
    // counts them until the run's engine gives its own. One run reports exactly what its engine
    // does.
    ExtractionCaller(zorvik::rt::com_ptr<IExtractionCallback> callback, std::optional<zorvik::rt::cancellation_token> cancellation,
                     std::vector<std::uint64_t> estimates = {0});

    // Held while the caller is called or shared state is touched.
    [[nodiscard]] std::unique_lock<std::mutex> Turn() { return std::unique_lock(turn_); }
    IExtractionCallback* Callback() const noexcept { return callback_.get(); }
    const zorvik::rt::com_ptr<IExtractionCallback>& CallbackReference() const noexcept { return callback_; }

    // The operation was canceled, or a run ended the extraction for all.
    bool Stopped() const noexcept { return stopped_.load(std::memory_order_relaxed) || (cancellation_ && cancellation_->canceled()); }
    void Stop() noexcept { stopped_.store(true, std::memory_order_relaxed); }
    // Only a run's end, not a cancel of the operation.
    bool StopRequested() const noexcept { return stopped_.load(std::memory_order_relaxed); }

    // In the caller's turn: an engine's progress for one run, told to the caller as the sum over
    // all runs. E_ABORT when the caller answers cancel.
    HRESULT SetTotal(std::size_t run, std::uint64_t total);
    HRESULT SetCompleted(std::size_t run, std::uint64_t completed);

    // In the caller's turn: the password the caller gave last, empty before any.
    std::wstring& Password() noexcept { return password_; }

private:
    struct RunProgress {
        std::uint64_t estimate = 0;
        std::optional<std::uint64_t> total;
        std::uint64_t completed = 0;
    };

    std::uint64_t Total() const noexcept;

    const zorvik::rt::com_ptr<IExtractionCallback> callback_;
    const std::optional<zorvik::rt::cancellation_token> cancellation_;
    std::mutex turn_;
    std::atomic<bool> stopped_{false};
    std::vector<RunProgress> runs_;
    std::optional<std::uint64_t> toldTotal_;
    std::uint64_t completed_ = 0;
    std::wstring password_;
};

}  // namespace Zorvik::Impl
