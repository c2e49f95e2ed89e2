#include "archive/ExtractArchiveHandler.h"

#include <algorithm>
#include <utility>

#include "archive/CallerProgress.h"
#include "engine/EngineText.h"
#include "model/ArchiveFolder.h"
#include "zorvik/runtime/oleauto.h"

namespace Zorvik::Impl {

using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;
using zorvik::rt::hstring;

namespace {

// The engine's ask-extract mode and operation results.
constexpr std::int32_t kAskExtract = 0;
constexpr std::int32_t kAskTest = 1;
constexpr std::int32_t kResultOk = 0;
constexpr std::int32_t kResultUnsupportedMethod = 1;
constexpr std::int32_t kResultCrcError = 3;

// The slot of index not yet removed, or null.
template <class Slots>
auto* SlotOf(Slots& slots, std::uint32_t index) noexcept {
    const auto found =
        std::lower_bound(slots.begin(), slots.end(), index, [](const auto& slot, std::uint32_t i) { return slot.Index < i; });
    return found != slots.end() && found->Index == index && !found->Removed ? &*found : nullptr;
}

}  // namespace

void ExtractionMap::Seal() {
    // Stable, so that of equal indices the later addition comes last and is the one kept.
    std::stable_sort(slots_.begin(), slots_.end(), [](const Slot& a, const Slot& b) { return a.Index < b.Index; });
    const auto kept = std::unique(slots_.rbegin(), slots_.rend(), [](const Slot& a, const Slot& b) { return a.Index == b.Index; });
    slots_.erase(slots_.begin(), kept.base());
    slots_.shrink_to_fit();
    remaining_ = slots_.size();
}

const MappedEntry* ExtractionMap::Find(std::uint32_t index) const noexcept {
    const auto* const slot = SlotOf(slots_, index);
    return slot ? &slot->Entry : nullptr;
}

const MappedEntry* ExtractionMap::First() const noexcept {
    const auto found = std::find_if(slots_.begin(), slots_.end(), [](const Slot& slot) { return !slot.Removed; });
    return found != slots_.end() ? &found->Entry : nullptr;
}

std::vector<std::uint32_t> ExtractionMap::RemainingIndices() const {
    std::vector<std::uint32_t> indices;
    indices.reserve(remaining_);
    for (const Slot& slot : slots_)
        if (!slot.Removed) indices.push_back(slot.Index);
    return indices;
}

void ExtractionMap::Remove(std::uint32_t index) noexcept {
    if (auto* const slot = SlotOf(slots_, index)) {
        slot->Removed = true;
        slot->Entry = {};  // a visited item's objects go now
        --remaining_;
    }
}

std::shared_ptr<ExtractionMap> ExtractionMap::Part(std::size_t first, std::size_t last) const {
    auto part = std::make_shared<ExtractionMap>();
    part->Root = Root;
    part->slots_.assign(slots_.begin() + static_cast<std::ptrdiff_t>(first), slots_.begin() + static_cast<std::ptrdiff_t>(last));
    part->remaining_ = part->slots_.size();
    return part;
}

ExtractItem ExtractionMap::Resolve(const MappedEntry& entry) const {
    if (entry.Visited) return *entry.Visited;
    PackedTree& tree = ArchiveItem::Of(Root.get())->Tree();
    return {tree.RelativePathBelow(entry.Node, entry.Base), tree.Item(entry.Node), tree.Properties(entry.Node)};
}

ExtractArchiveHandler::ExtractArchiveHandler(std::shared_ptr<ExtractionMap> map, std::shared_ptr<ExtractionCaller> caller, std::size_t run)
    : map_(std::move(map)), caller_(std::move(caller)), callback_(caller_->Callback()), run_(run) {}

const std::vector<std::uint32_t>& ExtractArchiveHandler::Indices() {
    if (indices_.size() != map_->Remaining()) indices_ = map_->RemainingIndices();
    return indices_;
}

void ExtractArchiveHandler::StartRun() noexcept {
    passwordDeclined_ = false;
    retryRequested_ = false;
}

void ExtractArchiveHandler::DropTaken() noexcept {
    taken_.clear();
    prepared_ = false;
}

void ExtractArchiveHandler::FinishCurrent() {
    // Declared first, so that the outputs let go of their streams after the caller's turn.
    std::vector<TakenEntry> unfinished = std::move(taken_);
    DropTaken();
    const auto turn = caller_->Turn();
    FinishTaken(unfinished);
}

void ExtractArchiveHandler::FinishTaken(std::vector<TakenEntry>& unfinished) {
    // Handlers such as tar's give no result for an entry the caller skipped: skipping it is
    // all that was asked, so it succeeded.
    for (const TakenEntry& taken : unfinished) {
        check_hresult(callback_->ItemCompleted(taken.Entry.Item.get(), taken.Skipped));
        map_->Remove(taken.Index);
    }
}

std::int32_t ExtractArchiveHandler::FailureKind(const ExtractItem& entry, std::int32_t opRes) {
    bool encrypted = false;
    check_hresult(entry.Properties->get_IsEncrypted(&encrypted));
    if (encrypted) return ExtractionFailure::Encrypted;
    if (opRes == kResultUnsupportedMethod) return ExtractionFailure::UnsupportedMethod;
    if (opRes == kResultCrcError) return ExtractionFailure::DataCheck;
    return ExtractionFailure::Other;
}

HRESULT ExtractArchiveHandler::SetTotal(std::uint64_t total) {
    if (Canceled()) return E_ABORT;
    const auto turn = caller_->Turn();
    const HRESULT result = caller_->SetTotal(run_, total);
    return result == E_ABORT ? Canceling() : result;
}

HRESULT ExtractArchiveHandler::SetCompleted(const std::uint64_t* completeValue) {
    if (Canceled()) return E_ABORT;
    if (!completeValue) return S_OK;
    const auto turn = caller_->Turn();
    const HRESULT result = caller_->SetCompleted(run_, *completeValue);
    return result == E_ABORT ? Canceling() : result;
}

HRESULT ExtractArchiveHandler::GetStream(std::uint32_t index, Engine::ISequentialOutStream** outStream, std::int32_t askExtractMode) {
    if (!outStream) return E_POINTER;
    *outStream = nullptr;
    std::vector<TakenEntry> unfinished;  // let go of after the caller's turn
    return zorvik::rt::boundary([&] {
        // Entries the engine left without a result are not complete: the caller hears so.
        if (!prepared_) {
            unfinished = std::move(taken_);
            DropTaken();
        }
        const auto turn = caller_->Turn();
        FinishTaken(unfinished);
        if (Canceled()) return E_ABORT;
        const MappedEntry* const found = map_->Find(index);
        if (!found || (askExtractMode != kAskExtract && askExtractMode != kAskTest)) return S_OK;
        TakenEntry& taken = taken_.emplace_back(TakenEntry{index, map_->Resolve(*found)});
        // The engine only checks a requested entry that it already knows to be damaged (a wrong
        // password does this to a whole solid block): no destination, but the caller must still
        // hear that the entry failed.
        if (askExtractMode == kAskTest) {
            taken.OnlyTested = true;
            return S_OK;
        }

        const hstring path(taken.Entry.Path);
        std::int32_t answer = ExtractionAnswer::Continue;
        if (taken.Entry.Properties->IsFolder()) {
            check_hresult(callback_->CreateFolder(taken.Entry.Item.get(), path.get(), &answer));
            return S_OK;
        }
        com_ptr<IRandomAccessStream> stream;
        check_hresult(callback_->GetFileStream(taken.Entry.Item.get(), path.get(), stream.put(), &answer));
        if (answer == ExtractionAnswer::Cancel) return Canceling();
        taken.Skipped = answer != ExtractionAnswer::Continue || !stream;
        if (taken.Skipped) return S_OK;
        taken.Output = zorvik::rt::make<OutputStreamAdapter>(std::move(stream), buffers_);
        *outStream = com_ptr<Engine::ISequentialOutStream>(taken.Output).detach();
        return S_OK;
    });
}

HRESULT ExtractArchiveHandler::PrepareOperation(std::int32_t) {
    prepared_ = true;
    return S_OK;
}

HRESULT ExtractArchiveHandler::SetOperationResult(std::int32_t opRes) {
    // Dropped before the caller is called, so that a failing call never reports an entry twice.
    std::vector<TakenEntry> finished = std::move(taken_);
    DropTaken();
    if (finished.empty()) return S_OK;
    const bool declined = std::exchange(passwordDeclined_, false);
    return zorvik::rt::boundary([&] {
        // The tail of the data lands outside the caller's turn, while other runs go on.
        std::vector<HRESULT> deliveries;
        deliveries.reserve(finished.size());
        for (TakenEntry& taken : finished) {
            deliveries.push_back(taken.Output ? taken.Output->Finish() : S_OK);
            taken.Output = nullptr;
        }
        const auto turn = caller_->Turn();
        // Another run ended the extraction while these entries decoded: they are left
        // unfinished, as entries the engine stopped inside are.
        if (caller_->StopRequested()) {
            FinishTaken(finished);
            return E_ABORT;
        }
        for (std::size_t i = 0; i < finished.size(); ++i) {
            if (const HRESULT hr = Complete(finished[i], opRes, declined, deliveries[i]); hr != S_OK) return hr;
        }
        return S_OK;
    });
}

HRESULT ExtractArchiveHandler::Complete(TakenEntry& taken, std::int32_t opRes, bool passwordDeclined, HRESULT delivery) {
    const bool succeeded = opRes == kResultOk && !taken.OnlyTested && SUCCEEDED(delivery);
    check_hresult(callback_->ItemCompleted(taken.Entry.Item.get(), succeeded));
    if (!succeeded && !passwordDeclined) {
        std::int32_t answer = ExtractionAnswer::Continue;
        check_hresult(callback_->ItemFailed(taken.Entry.Item.get(), FailureKind(taken.Entry, opRes), &answer));
        if (answer == ExtractionAnswer::Cancel) return Canceling();
        if (answer == ExtractionAnswer::Retry) {
            retryRequested_ = true;
            return E_FAIL;
        }
    }
    // Data lost on the way to a stream is final only once the entry leaves the map; a retry
    // may still deliver it.
    if (FAILED(delivery) && SUCCEEDED(writeFailure_)) writeFailure_ = delivery;
    map_->Remove(taken.Index);
    return S_OK;
}

HRESULT ExtractArchiveHandler::CryptoGetTextPassword(BSTR* password) {
    if (!password) return E_POINTER;
    *password = nullptr;
    return zorvik::rt::boundary([&] {
        const auto turn = caller_->Turn();
        com_ptr<IArchiveItem> item;
        if (!taken_.empty())
            item = taken_.front().Entry.Item;
        else if (const MappedEntry* const first = map_->First())
            item = map_->Resolve(*first).Item;
        const auto provider = caller_->CallbackReference().as<IExtractionPasswordProvider>();
        hstring given;
        std::int32_t answer = ExtractionAnswer::Continue;
        check_hresult(provider->GetPassword(item.get(), given.put(), &answer));
        std::wstring& stored = caller_->Password();
        if (answer == ExtractionAnswer::Continue)
            stored = given.view();
        else if (answer == ExtractionAnswer::Cancel)
            return Canceling();
        else if (answer == ExtractionAnswer::NoPassword)
            passwordDeclined_ = true;
        const std::wstring text = ToEngineText(stored);
        *password = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *password ? S_OK : E_OUTOFMEMORY;
    });
}

}  // namespace Zorvik::Impl
