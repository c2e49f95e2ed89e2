#include "archive/Extraction.h"

#include <mutex>

#include "archive/Archive.h"
#include "archive/EngineReference.h"
#include "archive/EngineOutcome.h"
#include "archive/ExtractArchiveHandler.h"
#include "archive/HeldFileLock.h"
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
    map.Add(index, MappedEntry{kNoNode, kNoNode, std::make_shared<const ExtractItem>(ExtractItem{std::wstring(path.view()), node, std::move(properties)})});
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
    std::lock_guard lock(archive.Lock);
    if (!archive.InArchive) throw zorvik::rt::illegal_method_call_error();
    return archive.RootFolder;
}

// One engine run over the entries still in the map.
HRESULT RunEngine(Archive& archive, ExtractArchiveHandler& handler, const ExtractionMap& map) {
    handler.StartRun();
    const EngineReference engine(archive);
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

}  // namespace

bool Extract(Archive& archive, std::vector<com_ptr<IArchiveItem>> items, com_ptr<IExtractionCallback> callback,
             std::optional<zorvik::rt::cancellation_token> cancellation) {
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

    auto handler = zorvik::rt::make<ExtractArchiveHandler>(map, callback);
    if (cancellation) handler->StopWhenCanceled(*cancellation);
    const HeldFileLock fileLock(archive);
    HRESULT result = S_OK;
    try {
        do {
            result = RunEngine(archive, *handler, *map);
        } while (FAILED(result) && handler->RetryRequested());
    } catch (...) {
        try {
            handler->FinishCurrent();
        } catch (...) {
        }
        throw;
    }
    handler->FinishCurrent();
    // Data that never reached its stream fails the operation as the engine's own error would.
    if (SUCCEEDED(result) && FAILED(handler->WriteFailure())) result = handler->WriteFailure();
    // So does an engine that stopped early without an error (a tar or RAR archive whose data
    // ends before its entries do): the entries it never reached were not extracted.
    if (SUCCEEDED(result) && map->Remaining() > 0) result = E_FAIL;
    return EngineSucceeded(result);
}

}  // namespace Zorvik::Impl
