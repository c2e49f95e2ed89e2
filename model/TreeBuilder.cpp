#include "model/TreeBuilder.h"

#include <algorithm>

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

void ReportCompleted(IOperationProgress& progress, std::uint64_t completed) {
    std::int32_t answer = 0;
    const HRESULT result = progress.SetCompleted(completed, &answer);
    CheckAnswer(result, answer);
}

}  // namespace

void ReportEntryCount(IOperationProgress& progress, std::uint32_t count) {
    std::int32_t answer = 0;
    const HRESULT result = progress.SetTotal(count, &answer);
    CheckAnswer(result, answer);
}

TreeBuilder::TreeBuilder(PackedTree& tree, EntryReader readEntry, com_ptr<IOperationProgress> progress)
    : tree_(tree), readEntry_(std::move(readEntry)), progress_(std::move(progress)) {}

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
    if (!readEntry_(index, tree_.Text(), properties)) return false;
    const PackedText path = properties.Path;
    if (path.size() > kLongestEntryPath) zorvik::rt::throw_hresult(kPathTooLong);

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
