#include "model/TreeBuilder.h"

#include <algorithm>
#include <mutex>

#include "archive/Archive.h"
#include "archive/EngineReference.h"
#include "archive/EntryNaming.h"
#include "model/ArchiveFolder.h"
#include "model/PathComponents.h"

namespace Zorvik::Impl {

using zorvik::rt::com_ptr;

namespace {
// A progress answer of 1 asks for the running operation to end.
constexpr std::int32_t kProgressCancel = 1;

void CheckAnswer(HRESULT result, std::int32_t answer) {
    zorvik::rt::check_hresult(result);
    if (answer == kProgressCancel) throw zorvik::rt::canceled_error();
}

void ReportTotal(IOperationProgress& progress, std::uint64_t total) {
    std::int32_t answer = 0;
    const HRESULT result = progress.SetTotal(total, &answer);
    CheckAnswer(result, answer);
}

void ReportCompleted(IOperationProgress& progress, std::uint64_t completed) {
    std::int32_t answer = 0;
    const HRESULT result = progress.SetCompleted(completed, &answer);
    CheckAnswer(result, answer);
}

// Ends a build: whoever waits for it may take the tree, unless a close dropped it meanwhile
// (the close itself wakes them then).
class BuildCompletion {
public:
    BuildCompletion(Archive& archive, IArchiveFolder* root) : archive_(archive), root_(root) {}
    BuildCompletion(const BuildCompletion&) = delete;
    BuildCompletion& operator=(const BuildCompletion&) = delete;
    ~BuildCompletion() {
        std::lock_guard lock(archive_.Lock);
        if (archive_.RootFolder.get() == root_) archive_.RootFolderBuilding = false;
        archive_.RootFolderBuilt.notify_all();
    }

private:
    Archive& archive_;
    IArchiveFolder* root_;  // compared only
};
}  // namespace

com_ptr<IArchiveFolder> GetRootFolder(Archive& archive, IOperationProgress* progress, const zorvik::rt::cancellation_token& cancellation) {
    com_ptr<IOperationProgress> reporter;
    for (;;) {
        {
            std::unique_lock lock(archive.Lock);
            archive.RootFolderBuilt.wait(lock, [&] { return !archive.RootFolderBuilding; });
            if (archive.RootFolder) return archive.RootFolder;
        }
        const EngineReference handler(archive);
        std::uint32_t count = 0;
        zorvik::rt::check_hresult(handler->GetNumberOfItems(&count));
        if (progress && !reporter) reporter = com_ptr<IOperationProgress>::copy_from(progress).as<IOperationProgress>();
        if (reporter) ReportTotal(*reporter, count);

        auto tree = std::make_shared<PackedTree>();
        com_ptr<ArchiveFolder> root;
        {
            std::unique_lock lock(archive.Lock);
            archive.RootFolderBuilt.wait(lock, [&] { return !archive.RootFolderBuilding; });
            if (archive.RootFolder) return archive.RootFolder;  // another build got there first
            if (archive.InArchive.get() != handler.get()) continue;         // closed or reopened meanwhile
            root = tree->Folder(PackedTree::kRoot);
            archive.RootFolder = root;
            if (archive.IsNew) return root;  // a created archive has no entries yet
            archive.RootFolderBuilding = true;
        }
        BuildCompletion completion(archive, root.get());
        TreeBuilder(archive, handler.get(), *tree, reporter).AddEntries(count, cancellation);
        return root;
    }
}

TreeBuilder::TreeBuilder(Archive& archive, Engine::IInArchive* handler, PackedTree& tree, com_ptr<IOperationProgress> progress)
    : archive_(archive),
      handler_(handler),
      tree_(tree),
      progress_(std::move(progress)),
      folders_(0, FolderKeyHash{&tree.Order()}, FolderKeyEqual{&tree.Order()}) {}

void TreeBuilder::AddEntries(std::uint32_t count, const zorvik::rt::cancellation_token& cancellation) {
    for (std::uint32_t index = 0; index < count; ++index) {
        cancellation.check();
        if (!AddEntry(index)) continue;
        if (progress_) ReportCompleted(*progress_, index);
    }
}

std::uint32_t TreeBuilder::FolderNamed(std::uint32_t parent, PackedText name) {
    const auto [place, added] = folders_.try_emplace(FolderKey{parent, name}, kNoNode);
    if (added) place->second = tree_.AddFolder(parent, name, nullptr);
    return place->second;
}

void TreeBuilder::AddFolder(std::uint32_t parent, PackedText name, const EntryProperties& properties) {
    const auto [place, added] = folders_.try_emplace(FolderKey{parent, name}, kNoNode);
    if (added)
        place->second = tree_.AddFolder(parent, name, &properties);
    else if (!tree_.HasProperties(place->second))
        tree_.GiveProperties(place->second, properties);  // the first explicit entry wins
}

bool TreeBuilder::AddEntry(std::uint32_t index) {
    EntryProperties properties;
    PackedText path;
    {
        // Held while the handler is read, so that a close cannot pull it away mid-read.
        std::lock_guard lock(archive_.Lock);
        if (archive_.InArchive.get() != handler_) throw zorvik::rt::illegal_method_call_error();
        properties = ReadEntryProperties(handler_, index, tree_.Text());
        path = properties.Path;
        if (path.empty()) {
            // Single-stream formats name their only entry after the archive file, and so does
            // every other format an entry without a name (data stored from a pipe, say).
            std::wstring madeName = NameForNamelessEntry(archive_.ArchiveName, archive_.Format.get());
            if (madeName.empty()) madeName = archive_.ArchiveName;
            if (madeName.empty()) return false;  // no name to give it
            path = tree_.Text().Store(madeName);
        }
    }

    SplitPath(path, components_);
    const auto firstNamed = std::find_if(components_.begin(), components_.end(), [](PackedText c) { return !c.empty(); });

    PackedText name = path;
    std::uint32_t parent = PackedTree::kRoot;
    if (firstNamed != components_.end()) {
        name = components_.back();
        // Archives list entries folder by folder: the same leading text finds the same folder.
        const PackedText folderPath = path.substr(0, path.size() - name.size());
        if (lastParent_ != kNoNode && folderPath == lastFolderPath_) {
            parent = lastParent_;
        } else {
            for (auto folder = firstNamed; folder != components_.end() - 1; ++folder) parent = FolderNamed(parent, *folder);
            lastFolderPath_ = folderPath;
            lastParent_ = parent;
        }
    }

    if (properties.IsFolder)
        AddFolder(parent, name, properties);
    else
        tree_.AddFile(parent, name, properties);
    return true;
}

}  // namespace Zorvik::Impl
