#include "archive/UpdatePlan.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "archive/TreeWalk.h"
#include "model/PathComponents.h"

namespace Zorvik::Impl {

using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;
using zorvik::rt::hstring;

namespace {

std::optional<std::uint32_t> EntryIndexOf(IArchiveItem& node) {
    const auto properties = EntryPropertiesOf(node);
    if (!properties) return std::nullopt;
    return properties->Index();
}

bool IsFolder(IArchiveItem& node) {
    com_ptr<IArchiveFolder> folder;
    return SUCCEEDED(node.QueryInterface(IArchiveFolder::iid, folder.put_void())) && folder;
}

std::wstring NameOf(IArchiveItem& node) {
    hstring name;
    check_hresult(node.get_Name(name.put()));
    return std::wstring(name.view());
}

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

// Every entry of node and below it.
void AddEntriesBelow(const com_ptr<IArchiveItem>& node, RemovalSet& removal) {
    VisitDepthFirst(node, [&](const com_ptr<IArchiveItem>& visited) {
        if (const auto index = EntryIndexOf(*visited)) removal.insert(*index);
    });
}

bool WhollyRemoved(const com_ptr<IArchiveItem>& node, const RemovalSet& removal) {
    bool removed = true;
    VisitDepthFirst(node, [&](const com_ptr<IArchiveItem>& visited) {
        if (const auto index = EntryIndexOf(*visited); index && !removal.count(*index)) removed = false;
    });
    return removed;
}

// Names in the folders of a tree, compared exactly as the tree compares them; each folder's
// children are indexed once, on first use.
class TreeLookup {
public:
    struct Found {
        com_ptr<IArchiveItem> item;
        bool blocked = false;  // item is a file standing where a folder of the path is needed
    };

    explicit TreeLookup(IArchiveFolder* root) { check_hresult(root->QueryInterface(IArchiveItem::iid, root_.put_void())); }

    // A blocking file that this update removes blocks nothing.
    Found Find(std::wstring_view path, const RemovalSet& removal) {
        std::vector<std::wstring_view> components = SplitPath(path);
        // The tree drops leading separators, and so does the path the engine is given.
        components.erase(components.begin(), std::find_if(components.begin(), components.end(), [](auto c) { return !c.empty(); }));
        if (components.empty()) return {};
        com_ptr<IArchiveItem> folder = root_;
        for (std::size_t i = 0; i + 1 < components.size(); ++i) {
            const Children& children = ChildrenIn(folder);
            if (const auto file = children.files.find(components[i]); file != children.files.end()) {
                const auto index = EntryIndexOf(*file->second);
                if (!index || !removal.count(*index)) return {file->second, true};
            }
            const auto subfolder = children.folders.find(components[i]);
            if (subfolder == children.folders.end()) return {};
            folder = subfolder->second;
        }
        const Children& children = ChildrenIn(folder);
        if (const auto subfolder = children.folders.find(components.back()); subfolder != children.folders.end()) return {subfolder->second};
        if (const auto file = children.files.find(components.back()); file != children.files.end()) return {file->second};
        return {};
    }

private:
    // Looked up by views of the path.
    using NodesByName = std::map<std::wstring, com_ptr<IArchiveItem>, std::less<>>;
    struct Children {
        NodesByName folders;
        NodesByName files;  // the first of equal names
    };

    const Children& ChildrenIn(const com_ptr<IArchiveItem>& folder) {
        const auto [place, added] = indexed_.try_emplace(folder.get());
        if (added) {
            for (auto& child : ChildrenOf(*folder)) {
                NodesByName& names = IsFolder(*child) ? place->second.folders : place->second.files;
                names.try_emplace(NameOf(*child), std::move(child));
            }
        }
        return place->second;
    }

    com_ptr<IArchiveItem> root_;
    std::map<IArchiveItem*, Children> indexed_;  // the tree, held by root_, keeps the keys alive
};

}  // namespace

NewArchiveItem::NewArchiveItem(com_ptr<IArchiveAddable> source) : source_(std::move(source)) {
    zorvik::rt::check_pointer(source_.get());
    properties_ = zorvik::rt::make<FileSystemProperties>(source_.as<IFileSystemProperties>().get());
    for (const std::wstring_view component : SplitPath(properties_->RenderedPath()))
        if (component == L"..") throw zorvik::rt::invalid_argument_error("a path of the archive cannot lead out of it");
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

void PlanRemove(const std::vector<com_ptr<IArchiveItem>>& items, RemovalSet& removal) {
    for (const auto& item : items) {
        zorvik::rt::check_pointer(item.get());
        AddEntriesBelow(item, removal);
    }
}

UpdatePlan PlanRename(const com_ptr<IArchiveItem>& item, std::wstring_view newName) {
    zorvik::rt::check_pointer(item.get());
    if (newName.empty() || newName == L"." || newName == L".." || std::any_of(newName.begin(), newName.end(), IsPathSeparator))
        throw zorvik::rt::invalid_argument_error("not a name");
    com_ptr<IArchiveFolder> parent;
    check_hresult(item->get_Parent(parent.put()));
    if (!parent) return {};

    const std::wstring newPath = PathOfFolder(*parent) + kPathSeparator + std::wstring(newName);
    const auto asFolder = item.try_as<IArchiveFolder>();
    UpdatePlan plan;
    VisitDepthFirst(item, [&](const com_ptr<IArchiveItem>& node) {
        if (node == item || !EntryIndexOf(*node)) return;
        plan.push_back(std::make_shared<ItemWithUpdatedProperties>(node, newPath + kPathSeparator + RelativePath(*node, asFolder.get())));
    });
    // The item itself comes after what it holds.
    if (EntryIndexOf(*item)) plan.push_back(std::make_shared<ItemWithUpdatedProperties>(item, newPath));
    return plan;
}

UpdatePlan PlanMove(const std::vector<com_ptr<IArchiveItem>>& items, IArchiveFolder* target) {
    zorvik::rt::check_pointer(target);
    const std::wstring targetPath = PathOfFolder(*target) + kPathSeparator;
    UpdatePlan plan;
    for (const auto& item : items) {
        zorvik::rt::check_pointer(item.get());
        com_ptr<IArchiveFolder> parent;
        check_hresult(item->get_Parent(parent.put()));
        if (!parent) continue;
        VisitDepthFirst(item, [&](const com_ptr<IArchiveItem>& node) {
            if (EntryIndexOf(*node))
                plan.push_back(std::make_shared<ItemWithUpdatedProperties>(node, targetPath + RelativePath(*node, parent.get())));
        });
    }
    return plan;
}

bool CheckConflicts(IArchiveFolder* root, UpdatePlan& plan, RemovalSet& removal, IUpdateCallback& callback,
                    const zorvik::rt::cancellation_token& cancellation) {
    TreeLookup lookup(root);
    UpdatePlan checked;
    for (auto& item : plan) {
        const auto properties = item->Properties();
        bool autoRename = false;
        for (;;) {
            cancellation.check();  // the way out of a caller that answers "check again" for ever
            const auto found = lookup.Find(properties->RenderedPath(), removal);
            if (found.blocked) {
                check_hresult(callback.PathBlocked(found.item.get()));
                throw zorvik::rt::canceled_error();
            }
            const com_ptr<IArchiveItem>& existing = found.item;
            const auto existingIndex = existing ? EntryIndexOf(*existing) : std::nullopt;
            // An entry that moves onto itself (a rename that changes only letter case) is no clash.
            if (!existing || WhollyRemoved(existing, removal) || (existingIndex && *existingIndex == item->IndexInArchive())) {
                checked.push_back(item);
                break;
            }
            if (properties->IsFolder() && IsFolder(*existing)) {
                // The new folder entry takes the old one's place; what the folder holds stays.
                checked.push_back(item);
                if (existingIndex) removal.insert(*existingIndex);
                break;
            }
            if (autoRename) {
                if (!properties->IncrementNameIndex()) return false;
                continue;
            }
            std::int32_t answer = ConflictAnswer::Skip;
            check_hresult(callback.ResolveConflict(properties.get(), existing.get(), &answer));
            if (answer == ConflictAnswer::Replace) {
                // What is replaced goes whole: a file written over a folder takes the folder's
                // content with it, rather than leaving entries below a file.
                checked.push_back(item);
                AddEntriesBelow(existing, removal);
                break;
            }
            if (answer == ConflictAnswer::Cancel) throw zorvik::rt::canceled_error();
            if (answer == ConflictAnswer::CheckAgain) continue;
            if (answer == ConflictAnswer::AddUnderOtherName) {
                autoRename = true;
                if (!properties->IncrementNameIndex()) return false;
                continue;
            }
            break;  // skipped
        }
    }
    plan = std::move(checked);
    return true;
}

void ExtendCopySet(const UpdatePlan& plan, RemovalSet& removal) {
    for (const auto& item : plan)
        if (!item->HasNewData()) removal.insert(item->IndexInArchive());
}

}  // namespace Zorvik::Impl
