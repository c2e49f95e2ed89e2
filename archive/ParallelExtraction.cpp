#include "archive/ParallelExtraction.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

#include "archive/Archive.h"
#include "archive/Extraction.h"

namespace Zorvik::Impl {

namespace {

using zorvik::rt::com_ptr;

class Runs {
public:
    Runs(Archive& archive, const ExtractionMap& map, const std::vector<PlannedRun>& runs, std::shared_ptr<ExtractionCaller> caller)
        : archive_(archive), caller_(std::move(caller)) {
        for (const PlannedRun& run : runs) maps_.push_back(map.Part(run.First, run.Last));
    }

    // Takes runs in turn through engine (null: the archive's own handler) until none is left or
    // the extraction stops.
    void Work(Engine::IInArchive* engine) noexcept {
        for (std::size_t run = next_++; run < maps_.size() && !caller_->Stopped(); run = next_++) {
            try {
                auto handler = zorvik::rt::make<ExtractArchiveHandler>(maps_[run], caller_, run);
                const HRESULT result = ExtractEntries(archive_, engine, *handler, *maps_[run]);
                if (FAILED(result)) End(result, nullptr);
                ++finished_;
            } catch (...) {
                End(E_FAIL, std::current_exception());
            }
        }
    }

    // Raises the first failing run's exception, else its HRESULT; a run that stopped because
    // another ended tells nothing.
    HRESULT Outcome() {
        std::lock_guard lock(outcome_);
        if (error_) std::rethrow_exception(error_);
        // Runs left untaken without a failure: the operation was canceled.
        if (SUCCEEDED(failure_) && finished_ < maps_.size()) return E_ABORT;
        return failure_;
    }

private:
    void End(HRESULT result, std::exception_ptr error) noexcept {
        {
            std::lock_guard lock(outcome_);
            if (SUCCEEDED(failure_) && !error_) {
                failure_ = result;
                error_ = std::move(error);
            }
        }
        // As one engine run stops at its first failure, so do all.
        caller_->Stop();
    }

    Archive& archive_;
    const std::shared_ptr<ExtractionCaller> caller_;
    std::vector<std::shared_ptr<ExtractionMap>> maps_;
    std::atomic<std::size_t> next_{0};
    std::atomic<std::size_t> finished_{0};
    std::mutex outcome_;
    HRESULT failure_ = S_OK;
    std::exception_ptr error_;
};

}  // namespace

HRESULT ExtractInParallel(Archive& archive, const ExtractionMap& map, const std::vector<PlannedRun>& runs, std::size_t threads,
                          com_ptr<IExtractionCallback> callback, std::optional<zorvik::rt::cancellation_token> cancellation) {
    std::vector<std::uint64_t> estimates;
    for (const PlannedRun& run : runs) estimates.push_back(run.Bytes);
    auto caller = std::make_shared<ExtractionCaller>(std::move(callback), std::move(cancellation), std::move(estimates));
    Runs work(archive, map, runs, caller);

    const std::shared_ptr<const ArchiveOrigin> origin = archive.State().Origin;
    std::vector<std::thread> helpers;
    for (std::size_t i = 1; i < std::min(threads, runs.size()) && origin; ++i) {
        try {
            helpers.emplace_back([&work, origin] {
                // A handler that does not open leaves its runs to the others.
                if (const auto engine = OpenAgain(origin)) work.Work(engine.get());
            });
        } catch (const std::system_error&) {
            break;  // no thread to spare: fewer threads do the work
        }
    }
    work.Work(nullptr);
    for (std::thread& helper : helpers) helper.join();
    return work.Outcome();
}

}  // namespace Zorvik::Impl
