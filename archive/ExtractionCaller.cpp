#include "archive/ExtractionCaller.h"

#include "archive/CallerProgress.h"

namespace Zorvik::Impl {

ExtractionCaller::ExtractionCaller(zorvik::rt::com_ptr<IExtractionCallback> callback,
                                   std::optional<zorvik::rt::cancellation_token> cancellation, std::vector<std::uint64_t> estimates)
    : callback_(std::move(callback)), cancellation_(std::move(cancellation)) {
    runs_.reserve(estimates.size());
    for (const std::uint64_t estimate : estimates) runs_.push_back({estimate, std::nullopt, 0});
}

std::uint64_t ExtractionCaller::Total() const noexcept {
    std::uint64_t total = 0;
    for (const RunProgress& run : runs_) total += run.total.value_or(run.estimate);
    return total;
}

HRESULT ExtractionCaller::SetTotal(std::size_t run, std::uint64_t total) {
    runs_.at(run).total = total;
    const std::uint64_t sum = Total();
    // Runs that confirm what was told already add nothing the caller needs to hear.
    if (runs_.size() > 1 && toldTotal_ == sum) return S_OK;
    toldTotal_ = sum;
    return ForwardProgress(callback_, &IOperationProgress::SetTotal, sum);
}

HRESULT ExtractionCaller::SetCompleted(std::size_t run, std::uint64_t completed) {
    RunProgress& progress = runs_.at(run);
    // A run restarted for a retry counts from 0 again, as the engine does.
    completed_ = completed_ - progress.completed + completed;
    progress.completed = completed;
    return ForwardProgress(callback_, &IOperationProgress::SetCompleted, completed_);
}

}  // namespace Zorvik::Impl
