// The engine's extraction callback: asks the caller's IExtractionCallback where each requested
// entry goes, passes results, failures, passwords and progress back to it, and removes every
// entry that is done with from the map, so that a retry reruns the engine for the rest only.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/ExtractionCaller.h"
#include "archive/OutputStreamAdapter.h"
#include "base/ComponentObject.h"
#include "engine/EngineInterfaces.h"
#include "model/ArchiveEntryProperties.h"
#include "model/PackedTree.h"
#include "zorvik/Extraction.h"
#include "zorvik/runtime/async.h"

namespace Zorvik::Impl {

// One entry to extract, as the caller hears of it.
struct ExtractItem {
    // Relative to the parent of the item the caller chose, joined with "/".
    std::wstring Path;
    zorvik::rt::com_ptr<IArchiveItem> Item;
    zorvik::rt::com_ptr<ArchiveEntryProperties> Properties;
};

// One entry to extract as the map keeps it until the engine asks for it. A node of the tree is
// kept as its number and the folder its path is relative to, and its objects and path are made
// when needed, so that the map of a million entries is small; anything else (an item a caller
// put into an Items vector) is kept as visited.
struct MappedEntry {
    std::uint32_t Node = kNoNode;
    std::uint32_t Base = kNoNode;  // kNoNode: the root
    std::shared_ptr<const ExtractItem> Visited;
};

// Engine index to entry, in ascending index order. The operation adds the chosen entries and
// seals the map; the handler then removes each entry as the caller hears of it. One flat array,
// so that the map of a million entries costs 32 bytes an entry.
class ExtractionMap {
public:
    // The tree of the entries kept as nodes, with its root held, so that every node stays
    // reachable and a path made late is the one the node had when it was chosen.
    zorvik::rt::com_ptr<IArchiveFolder> Root;

    // Before Seal; of two entries of one index, the one added later is kept.
    void Add(std::uint32_t index, MappedEntry entry) { slots_.push_back({index, false, std::move(entry)}); }
    void Seal();

    // After Seal, before anything is removed: the entries in ascending order, and a sealed map of
    // those from first to last (exclusive), with the same root, for a run of their own.
    std::uint32_t IndexAt(std::size_t position) const noexcept { return slots_[position].Index; }
    const MappedEntry& EntryAt(std::size_t position) const noexcept { return slots_[position].Entry; }
    std::shared_ptr<ExtractionMap> Part(std::size_t first, std::size_t last) const;

    // The entries not yet removed.
    std::size_t Remaining() const noexcept { return remaining_; }
    const MappedEntry* Find(std::uint32_t index) const noexcept;
    const MappedEntry* First() const noexcept;
    std::uint32_t LastIndex() const noexcept { return slots_.empty() ? 0 : slots_.back().Index; }
    std::vector<std::uint32_t> RemainingIndices() const;
    void Remove(std::uint32_t index) noexcept;

    ExtractItem Resolve(const MappedEntry& entry) const;

private:
    struct Slot {
        std::uint32_t Index;
        bool Removed;
        MappedEntry Entry;
    };

    std::vector<Slot> slots_;
    std::size_t remaining_ = 0;
};

class ExtractArchiveHandler final
    : public ComponentObject<ExtractArchiveHandler, Engine::IArchiveExtractCallback, Engine::ICryptoGetTextPassword> {
public:
    // run is the slot of this handler's progress in caller.
    ExtractArchiveHandler(std::shared_ptr<ExtractionMap> map, std::shared_ptr<ExtractionCaller> caller, std::size_t run = 0);

    // Before each engine run: the keys of the map when their number changed. The map only loses
    // entries during a run, so a change of size is a change of content.
    const std::vector<std::uint32_t>& Indices();
    // Clears what one engine run may set.
    void StartRun() noexcept;
    bool RetryRequested() const noexcept { return retryRequested_; }
    // After the last run: an entry the engine stopped inside is reported as not completed.
    void FinishCurrent();
    // The first failure to hand an entry's data to its stream, which the engine never saw.
    HRESULT WriteFailure() const noexcept { return writeFailure_; }

    // IProgress
    HRESULT SetTotal(std::uint64_t total) override;
    HRESULT SetCompleted(const std::uint64_t* completeValue) override;
    // IArchiveExtractCallback
    HRESULT GetStream(std::uint32_t index, Engine::ISequentialOutStream** outStream, std::int32_t askExtractMode) override;
    HRESULT PrepareOperation(std::int32_t askExtractMode) override;
    HRESULT SetOperationResult(std::int32_t opRes) override;
    // ICryptoGetTextPassword
    HRESULT CryptoGetTextPassword(BSTR* password) override;

private:
    // An entry the engine asked a stream for, until its result comes.
    struct TakenEntry {
        std::uint32_t Index = 0;
        ExtractItem Entry;
        // The engine tests the entry instead of extracting it: nothing reaches the caller.
        bool OnlyTested = false;
        // The caller declined the entry's data.
        bool Skipped = false;
        // Kept so that the tail of the entry's data lands, or its loss is known, before the
        // caller hears the entry completed.
        zorvik::rt::com_ptr<OutputStreamAdapter> Output;
    };

    void DropTaken() noexcept;
    // In the caller's turn.
    void FinishTaken(std::vector<TakenEntry>& unfinished);
    // Reports one entry's result in the caller's turn, its data delivered as delivery says;
    // E_ABORT or E_FAIL (retry) end the run.
    HRESULT Complete(TakenEntry& taken, std::int32_t opRes, bool passwordDeclined, HRESULT delivery);
    static std::int32_t FailureKind(const ExtractItem& entry, std::int32_t opRes);
    // A cancel of the operation itself, or another run's end, reaches the engine as the caller's
    // cancel answer would, at its next progress report or entry.
    bool Canceled() const noexcept { return caller_->Stopped(); }
    // The caller's cancel answer stops every run.
    HRESULT Canceling() noexcept {
        caller_->Stop();
        return E_ABORT;
    }

    std::vector<std::uint32_t> indices_;
    std::shared_ptr<ExtractionMap> map_;
    const std::shared_ptr<ExtractionCaller> caller_;
    IExtractionCallback* const callback_;
    const std::size_t run_;
    // Usually one entry. A handler that decodes once into several entries (a file and its
    // copies) asks for all their streams after PrepareOperation, and one result covers them all.
    std::vector<TakenEntry> taken_;
    // Shared by the entries' output streams in turn.
    const std::shared_ptr<OutputBuffers> buffers_ = std::make_shared<OutputBuffers>();
    bool prepared_ = false;
    bool passwordDeclined_ = false;
    bool retryRequested_ = false;
    HRESULT writeFailure_ = S_OK;
};

}  // namespace Zorvik::Impl
