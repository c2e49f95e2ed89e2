#include "archive/UpdatePlan.h"

#include <sys/stat.h>

#include <algorithm>

#include "archive/TreeWalk.h"
#include "model/PathComponents.h"

namespace Zorvik::Impl {

using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;
using zorvik::rt::hstring;

namespace {

std::wstring RelativePath(IArchiveItem& node, IArchiveFolder* ancestor) {
    hstring path;
    check_hresult(node.GetRelativePath(ancestor, path.put()));
    return std::wstring(path.view());
}

std::wstring PathOfFolder(IArchiveFolder& folder) {
    com_ptr<IArchiveItem> item;
    check_hresult(folder.QueryInterface(IArchiveItem::iid, item.put_void()));
    return RelativePath(*item, nullptr);
}

// The path of an added item as a file system reads it: empty and "." components stand for
// nothing; a ".." component would lead out of the archive.
std::wstring NormalizedAddedPath(std::wstring_view path) {
    std::wstring normalized;
    for (const std::wstring_view component : SplitPath(path)) {
        if (component == L"..") throw zorvik::rt::invalid_argument_error("a path of the archive cannot lead out of it");
        if (component.empty() || component == L".") continue;
        if (!normalized.empty()) normalized += kPathSeparator;
        normalized += component;
    }
    if (normalized.empty()) throw zorvik::rt::invalid_argument_error("an added item needs a name");
    return normalized;
}

}  // namespace

std::optional<std::uint32_t> EntryIndexOf(IArchiveItem& node, const PackedTree* tree) {
    const auto properties = EntryPropertiesOf(node, tree);
    if (!properties) return std::nullopt;
    return properties->Index();
}

void AddEntriesBelow(const com_ptr<IArchiveItem>& node, RemovalSet& removal, const PackedTree* tree) {
    VisitDepthFirst(node, [&](const com_ptr<IArchiveItem>& visited) {
        if (const auto index = EntryIndexOf(*visited, tree)) removal.insert(*index);
    });
}

NewArchiveItem::NewArchiveItem(com_ptr<IArchiveAddable> source) : source_(std::move(source)) {
    zorvik::rt::check_pointer(source_.get());
    properties_ = zorvik::rt::make<FileSystemProperties>(source_.as<IFileSystemProperties>().get());
    properties_->SetPath(NormalizedAddedPath(properties_->RenderedPath()));
    const auto posix = source_.try_as<IPosixFileProperties>();
    if (!posix) return;
    check_hresult(posix->get_Mode(&mode_));
    hstring target;
    check_hresult(posix->get_SymbolicLinkTarget(target.put()));
    if (target.empty() && !S_ISLNK(mode_)) return;
    // Formats keep the target as a C string (tar) or hand it to extract as one.
    if (target.empty() || target.view().find(L'\0') != std::wstring_view::npos)
        throw zorvik::rt::invalid_argument_error("a symbolic link needs a target, without NUL characters");
    if (properties_->IsFolder()) throw zorvik::rt::invalid_argument_error("a folder cannot be a symbolic link");
    linkTarget_ = zorvik::rt::to_utf8(target.view());
    mode_ = S_IFLNK | 0777;
}

com_ptr<IRandomAccessStream> NewArchiveItem::ContentStream() const {
    com_ptr<IRandomAccessStream> stream;
    check_hresult(source_->GetContentStream(stream.put()));
    return stream;
}

ItemWithUpdatedProperties::ItemWithUpdatedProperties(const com_ptr<IArchiveItem>& source, std::wstring newPath) : source_(source) {
    const auto entry = EntryPropertiesOf(*source_);
    if (!entry) throw zorvik::rt::invalid_argument_error();
    index_ = entry->Index();
    properties_ = zorvik::rt::make<FileSystemProperties>(static_cast<IFileSystemProperties*>(entry.get()));
    properties_->SetPath(std::move(newPath));
}

UpdatePlan PlanAdd(const std::vector<com_ptr<IArchiveAddable>>& addables) {
    UpdatePlan plan;
    for (const auto& addable : addables) plan.push_back(std::make_shared<NewArchiveItem>(addable));
    return plan;
}

void PlanRemove(const std::vector<com_ptr<IArchiveItem>>& items, RemovalSet& removal, const PackedTree* tree) {
    for (const auto& item : items) {
        zorvik::rt::check_pointer(item.get());
        CheckNodeOf(tree, *item);
        AddEntriesBelow(item, removal, tree);
    }
}

UpdatePlan PlanRename(const com_ptr<IArchiveItem>& item, std::wstring_view newName, const PackedTree* tree) {
    zorvik::rt::check_pointer(item.get());
    CheckNodeOf(tree, *item);
    if (newName.empty() || newName == L"." || newName == L".." || std::any_of(newName.begin(), newName.end(), IsPathSeparator))
        throw zorvik::rt::invalid_argument_error("not a name");
    com_ptr<IArchiveFolder> parent;
    check_hresult(item->get_Parent(parent.put()));
    if (!parent) return {};

    const std::wstring newPath = PathOfFolder(*parent) + kPathSeparator + std::wstring(newName);
    const auto asFolder = item.try_as<IArchiveFolder>();
    UpdatePlan plan;
    VisitDepthFirst(item, [&](const com_ptr<IArchiveItem>& node) {
        if (node == item || !EntryIndexOf(*node, tree)) return;
        plan.push_back(std::make_shared<ItemWithUpdatedProperties>(node, newPath + kPathSeparator + RelativePath(*node, asFolder.get())));
    });
    // The item itself comes after what it holds.
    if (EntryIndexOf(*item)) plan.push_back(std::make_shared<ItemWithUpdatedProperties>(item, newPath));
    return plan;
}

UpdatePlan PlanMove(const std::vector<com_ptr<IArchiveItem>>& items, IArchiveFolder* target, const PackedTree* tree) {
    zorvik::rt::check_pointer(target);
    CheckNodeOf(tree, *com_ptr<IArchiveFolder>::copy_from(target).as<IArchiveItem>());
    const std::wstring targetPath = PathOfFolder(*target) + kPathSeparator;
    UpdatePlan plan;
    for (const auto& item : items) {
        zorvik::rt::check_pointer(item.get());
        CheckNodeOf(tree, *item);
        com_ptr<IArchiveFolder> parent;
        check_hresult(item->get_Parent(parent.put()));
        if (!parent) continue;
        VisitDepthFirst(item, [&](const com_ptr<IArchiveItem>& node) {
            if (EntryIndexOf(*node, tree))
                plan.push_back(std::make_shared<ItemWithUpdatedProperties>(node, targetPath + RelativePath(*node, parent.get())));
        });
    }
    return plan;
}

void ExtendCopySet(const UpdatePlan& plan, RemovalSet& removal) {
    for (const auto& item : plan)
        if (!item->HasNewData()) removal.insert(item->IndexInArchive());
}

}  // namespace Zorvik::Impl
