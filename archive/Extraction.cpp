#include "archive/Extraction.h"

#include <mutex>

#include "archive/Archive.h"
#include "archive/EngineReference.h"
#include "archive/ExtractArchiveHandler.h"
#include "model/ArchiveFolder.h"
#include "zorvik/runtime/collections.h"

namespace Zorvik::Impl {

using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;

namespace {

// The component's own properties object behind an item; null for nodes that stand for no entry.
// Anything else in its place is refused: its index would reach the engine unchecked.
com_ptr<ArchiveEntryProperties> EntryPropertiesOf(IArchiveItem& item) {
    com_ptr<IArchiveEntryProperties> properties;
    check_hresult(item.get_Properties(properties.put()));
    if (!properties) return nullptr;
    zorvik::rt::hstring className;
    check_hresult(properties->GetRuntimeClassName(className.put()));
    if (className.view() != zorvik::rt::to_wide(ArchiveEntryProperties::runtime_class_name)) throw zorvik::rt::invalid_argument_error();
    return com_ptr<ArchiveEntryProperties>::copy_from(static_cast<ArchiveEntryProperties*>(properties.get()));
}

// Adds node (chosen, or below the chosen item, whose parent is base) when it stands for an entry.
void Add(ExtractionMap& map, const com_ptr<IArchiveItem>& node, const com_ptr<IArchiveFolder>& base) {
    const ArchiveItem* const ours = ArchiveItem::Of(node.get());
    const ArchiveItem* const baseNode = ArchiveItem::Of(base.get());
    const ArchiveItem* const root = ArchiveItem::Of(map.Root.get());
    if (ours && (!root || &root->Tree() == &ours->Tree()) && (!base || (baseNode && &baseNode->Tree() == &ours->Tree()))) {
        PackedTree& tree = ours->Tree();
        if (!tree.HasProperties(ours->Node())) return;
        if (!map.Root) map.Root = tree.Folder(PackedTree::kRoot);
        map.Entries[tree.EntryIndex(ours->Node())] = MappedEntry{ours->Node(), baseNode ? baseNode->Node() : kNoNode, nullptr};
        return;
    }
    auto properties = EntryPropertiesOf(*node);
    if (!properties) return;
    zorvik::rt::hstring path;
    check_hresult(node->GetRelativePath(base.get(), path.put()));
    const std::uint32_t index = properties->Index();
    map.Entries[index] = MappedEntry{kNoNode, kNoNode, std::make_shared<const ExtractItem>(ExtractItem{std::wstring(path.view()), node, std::move(properties)})};
}

// chosen and everything below it, each node before its children, keyed by entry index; a later
// visit of an index replaces the earlier one.
void AddChosen(ExtractionMap& map, const com_ptr<IArchiveItem>& chosen) {
    com_ptr<IArchiveFolder> base;
    check_hresult(chosen->get_Parent(base.put()));
    // The folders being walked, each with its children and the next one to visit; one child
    // object at a time is made, even in a folder of a million.
    struct Level {
        com_ptr<IVector<IArchiveItem*>> children;
        std::uint32_t count = 0;
        std::uint32_t next = 0;
    };
    std::vector<Level> walk;
    const auto visit = [&](const com_ptr<IArchiveItem>& node) {
        Add(map, node, base);
        const auto folder = node.try_as<IArchiveFolder>();
        if (!folder) return;
        com_ptr<IObservableVector<IArchiveItem*>> children;
        check_hresult(folder->get_Items(children.put()));
        Level& level = walk.emplace_back(Level{children.as<IVector<IArchiveItem*>>()});
        check_hresult(level.children->get_Size(&level.count));
    };
    visit(chosen);
    while (!walk.empty()) {
        Level& level = walk.back();
        if (level.next == level.count) {
            walk.pop_back();
            continue;
        }
        com_ptr<IArchiveItem> child;
        check_hresult(level.children->GetAt(level.next++, child.put()));
        visit(child);
    }
}

// Holds the archive's file lock from a successful take to the end of the operation, even
// when a Close drops the archive's own reference meanwhile.
class HeldFileLock {
public:
    explicit HeldFileLock(Archive& archive) {
        {
            std::lock_guard lock(archive.Lock);
            held_ = archive.FileLock;
        }
        if (!held_) throw zorvik::rt::illegal_method_call_error();
        if (!held_->TryAcquire()) zorvik::rt::throw_hresult(kArchiveInUse);
    }
    HeldFileLock(const HeldFileLock&) = delete;
    HeldFileLock& operator=(const HeldFileLock&) = delete;
    ~HeldFileLock() { held_->Release(); }

private:
    std::shared_ptr<FileLock> held_;
};

void CheckOpen(Archive& archive) {
    std::lock_guard lock(archive.Lock);
    if (!archive.InArchive) throw zorvik::rt::illegal_method_call_error();
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
    if (map.Entries.rbegin()->first >= count) throw zorvik::rt::invalid_argument_error();
    constexpr std::int32_t kExtractMode = 0;  // not test mode
    return engine->Extract(indices.data(), static_cast<std::uint32_t>(indices.size()), kExtractMode,
                           static_cast<Engine::IArchiveExtractCallback*>(&handler));
}

bool Outcome(HRESULT result) {
    switch (result) {
        case E_NOTIMPL: throw zorvik::rt::not_implemented_error();
        case E_ABORT: throw zorvik::rt::canceled_error();
        case E_OUTOFMEMORY: throw zorvik::rt::out_of_memory_error();
        case kDiskFull: zorvik::rt::throw_hresult(kDiskFull);
        default: return SUCCEEDED(result);
    }
}

}  // namespace

bool Extract(Archive& archive, std::vector<com_ptr<IArchiveItem>> items, com_ptr<IExtractionCallback> callback,
             std::optional<zorvik::rt::cancellation_token> cancellation) {
    if (items.empty()) return false;
    if (!callback) throw zorvik::rt::invalid_argument_error();
    CheckOpen(archive);  // nothing open: fail before the caller hears anything

    auto map = std::make_shared<ExtractionMap>();
    for (const auto& chosen : items) {
        if (!chosen) throw zorvik::rt::invalid_argument_error();
        AddChosen(*map, chosen);
    }
    check_hresult(callback.as<IOperationProgress>()->SetItemCount(static_cast<std::uint32_t>(map->Entries.size())));

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
    return Outcome(result);
}

}  // namespace Zorvik::Impl
