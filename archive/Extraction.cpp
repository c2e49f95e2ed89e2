#include "archive/Extraction.h"

#include <mutex>

#include "archive/Archive.h"
#include "archive/EngineReference.h"
#include "archive/EngineOutcome.h"
#include "archive/ExtractArchiveHandler.h"
#include "archive/HeldFileLock.h"
#include "archive/ParallelExtraction.h"
#include "archive/TreeWalk.h"
#include "model/ArchiveFolder.h"

namespace Zorvik::Impl {

using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;

namespace {

// Adds node (chosen, or below the chosen item, whose parent is base) when it stands for an
// entry; a node of another tree than the archive's (map.Root's) is refused.
void Add(ExtractionMap& map, const com_ptr<IArchiveItem>& node, const com_ptr<IArchiveFolder>& base) {
    const ArchiveItem* const ours = ArchiveItem::Of(node.get());
    const ArchiveItem* const baseNode = ArchiveItem::Of(base.get());
    const PackedTree* const current = TreeOf(map.Root.get());
    if (ours && &ours->Tree() != current) throw zorvik::rt::invalid_argument_error("an item of another archive's tree");
    if (ours && (!base || (baseNode && &baseNode->Tree() == &ours->Tree()))) {
        PackedTree& tree = ours->Tree();
        if (!tree.HasProperties(ours->Node())) return;
        map.Add(tree.EntryIndex(ours->Node()), MappedEntry{ours->Node(), baseNode ? baseNode->Node() : kNoNode, nullptr});
        return;
    }
    auto properties = EntryPropertiesOf(*node, current);
    if (!properties) return;
    zorvik::rt::hstring path;
    check_hresult(node->GetRelativePath(base.get(), path.put()));
    const std::uint32_t index = properties->Index();
    map.Add(index, MappedEntry{kNoNode, kNoNode,
                               std::make_shared<const ExtractItem>(ExtractItem{std::wstring(path.view()), node, std::move(properties)})});
}

// chosen and everything below it, each node before its children, keyed by entry index; a later
// visit of an index replaces the earlier one.
void AddChosen(ExtractionMap& map, const com_ptr<IArchiveItem>& chosen) {
    com_ptr<IArchiveFolder> base;
    check_hresult(chosen->get_Parent(base.put()));
    VisitDepthFirst(chosen, [&](const com_ptr<IArchiveItem>& node) { Add(map, node, base); });
}

// The root of the tree the archive shows now, which every chosen item must be of; raises
// E_ILLEGAL_METHOD_CALL when nothing is open.
com_ptr<IArchiveFolder> CurrentRoot(Archive& archive) {
    Archive::Snapshot state = archive.State();
    if (!state.IsOpen) throw zorvik::rt::illegal_method_call_error();
    return std::move(state.RootFolder);
}

// One engine run over the entries still in the map.
HRESULT RunEngine(Engine::IInArchive* engine, ExtractArchiveHandler& handler, const ExtractionMap& map) {
    handler.StartRun();
    const auto& indices = handler.Indices();
    if (indices.empty()) return S_OK;
    // Items of an earlier tree of this Archive, or of another one, may name entries this
    // handler does not have; the engine would index past its tables.
    std::uint32_t count = 0;
    check_hresult(engine->GetNumberOfItems(&count));
    if (map.LastIndex() >= count) throw zorvik::rt::invalid_argument_error();
    constexpr std::int32_t kExtractMode = 0;  // not test mode
    return engine->Extract(indices.data(), static_cast<std::uint32_t>(indices.size()), kExtractMode,
                           static_cast<Engine::IArchiveExtractCallback*>(&handler));
}

HRESULT RunEngine(Archive& archive, Engine::IInArchive* engine, ExtractArchiveHandler& handler, const ExtractionMap& map) {
    if (engine) return RunEngine(engine, handler, map);
    const EngineReference own(archive);
    return RunEngine(own.get(), handler, map);
}

// limits as given, or else by the archive's thread count.
RunLimits LimitsOf(Archive& archive, const std::optional<RunLimits>& given) {
    RunLimits limits = given.value_or(RunLimits{});
    if (!given) limits.Threads = archive.ExtractionThreadCount();
    return limits;
}

// The runs an extraction of map may make.
std::vector<PlannedRun> Plan(Archive& archive, const ExtractionMap& map, const RunLimits& limits) {
    const Archive::Snapshot state = archive.State();
    const std::shared_ptr<const ArchiveOrigin>& origin = state.Origin;
    const std::vector<PlannedRun> one{{0, map.Remaining(), 0}};
    if (limits.Threads < 2 || !origin || map.Remaining() == 0) return one;
    const EngineReference engine(archive);
    std::uint32_t count = 0;
    if (engine->GetNumberOfItems(&count) != S_OK || count != origin->ItemCount || map.LastIndex() >= count) return one;
    return PlanRuns(engine.get(), state.FormatName, count, map, limits);
}

}  // namespace

HRESULT ExtractEntries(Archive& archive, Engine::IInArchive* engine, ExtractArchiveHandler& handler, const ExtractionMap& map) {
    HRESULT result = S_OK;
    try {
        do {
            result = RunEngine(archive, engine, handler, map);
        } while (FAILED(result) && handler.RetryRequested());
    } catch (...) {
        try {
            handler.FinishCurrent();
        } catch (...) {
        }
        throw;
    }
    handler.FinishCurrent();
    // Data that never reached its stream fails the operation as the engine's own error would.
    if (SUCCEEDED(result) && FAILED(handler.WriteFailure())) result = handler.WriteFailure();
    // So does an engine that stopped early without an error (a tar or RAR archive whose data
    // ends before its entries do): the entries it never reached were not extracted.
    if (SUCCEEDED(result) && map.Remaining() > 0) result = E_FAIL;
    return result;
}

bool Extract(Archive& archive, std::vector<com_ptr<IArchiveItem>> items, com_ptr<IExtractionCallback> callback,
             std::optional<zorvik::rt::cancellation_token> cancellation, std::optional<RunLimits> limits) {
    if (items.empty()) return false;
    if (!callback) throw zorvik::rt::invalid_argument_error();
    auto map = std::make_shared<ExtractionMap>();
    map->Root = CurrentRoot(archive);  // nothing open: fail before the caller hears anything
    for (const auto& chosen : items) {
        if (!chosen) throw zorvik::rt::invalid_argument_error();
        AddChosen(*map, chosen);
    }
    map->Seal();
    check_hresult(callback.as<IOperationProgress>()->SetItemCount(static_cast<std::uint32_t>(map->Remaining())));

    const HeldFileLock fileLock(archive);
    const RunLimits spread = LimitsOf(archive, limits);
    const std::vector<PlannedRun> runs = Plan(archive, *map, spread);
    if (runs.size() > 1)
        return EngineSucceeded(ExtractInParallel(archive, *map, runs, spread.Threads, std::move(callback), std::move(cancellation)));
    auto caller = std::make_shared<ExtractionCaller>(std::move(callback), std::move(cancellation));
    auto handler = zorvik::rt::make<ExtractArchiveHandler>(map, caller);
    return EngineSucceeded(ExtractEntries(archive, nullptr, *handler, *map));
}

}  // namespace Zorvik::Impl
