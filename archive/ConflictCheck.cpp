#include "archive/ConflictCheck.h"

#include <algorithm>
#include <map>
#include <set>

#include "archive/TreeWalk.h"
#include "model/PathComponents.h"

namespace Zorvik::Impl {

using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;
using zorvik::rt::hstring;

namespace {

bool IsFolder(IArchiveItem& node) {
    com_ptr<IArchiveFolder> folder;
    return SUCCEEDED(node.QueryInterface(IArchiveFolder::iid, folder.put_void())) && folder;
}

std::wstring RelativePath(IArchiveItem& node) {
    hstring path;
    check_hresult(node.GetRelativePath(nullptr, path.put()));
    return std::wstring(path.view());
}

std::wstring NameOf(IArchiveItem& node) {
    hstring name;
    check_hresult(node.get_Name(name.put()));
    return std::wstring(name.view());
}

bool WhollyRemoved(const com_ptr<IArchiveItem>& node, const RemovalSet& removal, const PackedTree* tree) {
    bool removed = true;
    VisitDepthFirst(node, [&](const com_ptr<IArchiveItem>& visited) {
        if (const auto index = EntryIndexOf(*visited, tree); index && !removal.count(*index)) removed = false;
    });
    return removed;
}

// A plan path as the tree splits it: leading separators stand for nothing.
std::wstring TreePath(std::wstring_view path) {
    const std::size_t start = path.find_first_not_of(kPathSeparator);
    return std::wstring(start == std::wstring_view::npos ? std::wstring_view() : path.substr(start));
}

bool IsBelow(const std::wstring& path, const std::wstring& folder) {
    return path.size() > folder.size() && path[folder.size()] == kPathSeparator && path.compare(0, folder.size(), folder) == 0;
}

[[noreturn]] void Contradiction(const char* what) { throw zorvik::rt::invalid_argument_error(what); }

// The caller's added items contradict each other: two of one path (but for two folders), or a
// file where another needs a folder.
void CheckAddedPaths(const UpdatePlan& plan) {
    std::map<std::wstring, bool> added;  // path, and whether a folder
    for (const auto& item : plan) {
        if (item->IndexInArchive() != kNewItem) continue;
        const bool folder = item->Properties()->IsFolder();
        const auto [at, inserted] = added.try_emplace(TreePath(item->Properties()->RenderedPath()), folder);
        if (!inserted && !(at->second && folder)) Contradiction("two added items have one path");
    }
    for (const auto& [path, folder] : added) {
        if (folder) continue;
        const auto below = added.lower_bound(path + kPathSeparator);
        if (below != added.end() && IsBelow(below->first, path))
            Contradiction("an added file stands where another added item needs a folder");
    }
}

// Names in the folders of a tree, compared exactly as the tree compares them; each folder's
// children are indexed once, on first use.
class TreeLookup {
public:
    struct Found {
        com_ptr<IArchiveItem> item;
        bool blocked = false;  // item is a file standing where a folder of the path is needed
        // Files of the same name in the same folder as item, item first.
        std::vector<com_ptr<IArchiveItem>> twins;
    };

    explicit TreeLookup(IArchiveFolder* root) : tree_(TreeOf(root)) {
        check_hresult(root->QueryInterface(IArchiveItem::iid, root_.put_void()));
    }

    const PackedTree* Tree() const noexcept { return tree_; }

    // A blocking file that this update removes blocks nothing.
    Found Find(std::wstring_view path, const RemovalSet& removal) {
        std::vector<std::wstring_view> components = SplitPath(path);
        if (path.empty()) return {};
        com_ptr<IArchiveItem> folder = root_;
        for (std::size_t i = 0; i + 1 < components.size(); ++i) {
            const Children& children = ChildrenIn(folder);
            if (const auto files = children.files.find(components[i]); files != children.files.end()) {
                const auto& file = files->second.front();
                const auto index = EntryIndexOf(*file, tree_);
                if (!index || !removal.count(*index)) return {file, true, {}};
            }
            const auto subfolder = children.folders.find(components[i]);
            if (subfolder == children.folders.end()) return {};
            folder = subfolder->second.front();
        }
        const Children& children = ChildrenIn(folder);
        if (const auto subfolder = children.folders.find(components.back()); subfolder != children.folders.end())
            return {subfolder->second.front(), false, {}};
        if (const auto files = children.files.find(components.back()); files != children.files.end())
            return {files->second.front(), false, files->second};
        return {};
    }

private:
    // Looked up by views of the path.
    using NodesByName = std::map<std::wstring, std::vector<com_ptr<IArchiveItem>>, std::less<>>;
    struct Children {
        NodesByName folders;
        NodesByName files;
    };

    const Children& ChildrenIn(const com_ptr<IArchiveItem>& folder) {
        const auto [place, added] = indexed_.try_emplace(folder.get());
        if (added) {
            for (auto& child : ChildrenOf(*folder)) {
                NodesByName& names = IsFolder(*child) ? place->second.folders : place->second.files;
                names[NameOf(*child)].push_back(std::move(child));
            }
        }
        return place->second;
    }

    const PackedTree* tree_;
    com_ptr<IArchiveItem> root_;
    std::map<IArchiveItem*, Children> indexed_;  // the tree, held by root_, keeps the keys alive
};

// The paths the checked plan takes, and those of the items still to be checked.
class PlanPaths {
public:
    struct Claim {
        std::shared_ptr<IUpdateItem> item;
        bool folder = false;
    };

    explicit PlanPaths(const UpdatePlan& plan) {
        for (const auto& item : plan) pending_.insert(TreePath(item->Properties()->RenderedPath()));
    }

    // Item is being checked: its own path is no longer one to keep free for it.
    void Checking(const IUpdateItem& item) {
        const auto found = pending_.find(TreePath(item.Properties()->RenderedPath()));
        if (found != pending_.end()) pending_.erase(found);
    }
    // A later item takes path, or needs it as a folder.
    bool IsPending(const std::wstring& path) const {
        if (pending_.count(path)) return true;
        const auto below = pending_.lower_bound(path + kPathSeparator);
        return below != pending_.end() && IsBelow(*below, path);
    }

    // The claim at path, or for a file the first claim below it, which needs path as a folder.
    const Claim* ClashWith(const std::wstring& path, bool folder) const {
        if (const auto found = taken_.find(path); found != taken_.end()) return &found->second;
        if (folder) return nullptr;
        const auto below = taken_.lower_bound(path + kPathSeparator);
        return below != taken_.end() && IsBelow(below->first, path) ? &below->second : nullptr;
    }
    // A file the plan puts where path needs a folder.
    const Claim* FileAbove(const std::wstring& path) const {
        for (std::size_t end = path.find(kPathSeparator); end != std::wstring::npos; end = path.find(kPathSeparator, end + 1))
            if (const auto found = taken_.find(path.substr(0, end)); found != taken_.end() && !found->second.folder) return &found->second;
        return nullptr;
    }

    void Take(const std::wstring& path, std::shared_ptr<IUpdateItem> item, bool folder) {
        taken_.try_emplace(path, Claim{std::move(item), folder});
    }

    // The items at path and below it, which a replacing item takes the place of.
    std::vector<std::shared_ptr<IUpdateItem>> Release(const std::wstring& path) {
        std::vector<std::shared_ptr<IUpdateItem>> released;
        for (auto at = taken_.lower_bound(path); at != taken_.end() && (at->first == path || IsBelow(at->first, path));) {
            released.push_back(at->second.item);
            at = taken_.erase(at);
        }
        return released;
    }

private:
    std::map<std::wstring, Claim> taken_;
    std::multiset<std::wstring> pending_;
};

// Entries that shared one path in the archive: the update does not make them twins.
bool Twins(const IUpdateItem& a, const IUpdateItem& b) {
    const auto sourceA = a.Source(), sourceB = b.Source();
    if (!sourceA || !sourceB) return false;
    const auto entryA = EntryPropertiesOf(*sourceA), entryB = EntryPropertiesOf(*sourceB);
    return entryA && entryB && entryA->Path() == entryB->Path();
}

}  // namespace

std::optional<std::wstring> CheckConflicts(IArchiveFolder* root, UpdatePlan& plan, RemovalSet& removal, IUpdateCallback& callback,
                                           const zorvik::rt::cancellation_token& cancellation, const RemovalSet& vacating) {
    CheckAddedPaths(plan);
    removal.insert(vacating.begin(), vacating.end());
    TreeLookup lookup(root);
    PlanPaths paths(plan);
    UpdatePlan checked;
    // An item of the archive left out of the plan stays where it was, unless it is to go.
    const auto drop = [&](const std::shared_ptr<IUpdateItem>& item) {
        if (item->IndexInArchive() != kNewItem) removal.insert(item->IndexInArchive());
    };
    for (auto& item : plan) {
        const auto properties = item->Properties();
        const bool folder = properties->IsFolder();
        const bool added = item->IndexInArchive() == kNewItem;
        paths.Checking(*item);
        bool autoRename = false;
        for (;;) {
            cancellation.check();  // the way out of a caller that answers "check again" for ever
            const std::wstring path = TreePath(properties->RenderedPath());
            if (const auto* above = paths.FileAbove(path)) {
                if (!above->item->Source() || added) Contradiction("an added file stands where another item needs a folder");
                check_hresult(callback.PathBlocked(above->item->Source().get()));
                throw zorvik::rt::canceled_error();
            }
            const auto found = lookup.Find(path, removal);
            if (found.blocked) {
                check_hresult(callback.PathBlocked(found.item.get()));
                throw zorvik::rt::canceled_error();
            }
            const PlanPaths::Claim* claim = paths.ClashWith(path, folder);
            if (claim && Twins(*claim->item, *item)) claim = nullptr;
            const com_ptr<IArchiveItem>& existing = found.item;
            const auto existingIndex = existing ? EntryIndexOf(*existing, lookup.Tree()) : std::nullopt;
            // An entry that moves onto itself (a rename that changes nothing) is no clash.
            const bool treeClash = existing && !WhollyRemoved(existing, removal, lookup.Tree()) &&
                                   !(existingIndex && *existingIndex == item->IndexInArchive());
            if (!claim && !treeClash && !(autoRename && paths.IsPending(path))) {
                checked.push_back(item);
                paths.Take(path, item, folder);
                break;
            }
            if (autoRename) {
                if (!properties->IncrementNameIndex()) return path;
                continue;
            }
            if (claim && claim->folder && folder) {
                drop(item);  // its content comes along under the folder already in the plan
                break;
            }
            if (claim && !claim->item->Source()) Contradiction("two added items have one path");
            if (!claim && folder && IsFolder(*existing)) {
                // The new folder entry takes the old one's place; what the folder holds stays.
                checked.push_back(item);
                paths.Take(path, item, folder);
                if (existingIndex) removal.insert(*existingIndex);
                break;
            }
            const com_ptr<IArchiveItem> standing = claim ? claim->item->Source() : existing;
            std::int32_t answer = ConflictAnswer::Skip;
            check_hresult(callback.ResolveConflict(properties.get(), standing.get(), &answer));
            if (answer == ConflictAnswer::Replace) {
                // What is replaced goes whole: a file written over a folder takes the folder's
                // content with it, rather than leaving entries below a file.
                if (claim) {
                    for (const auto& replaced : paths.Release(path)) {
                        drop(replaced);
                        std::erase(checked, replaced);
                    }
                } else {
                    for (const auto& twin : found.twins) AddEntriesBelow(twin, removal, lookup.Tree());
                    AddEntriesBelow(existing, removal, lookup.Tree());
                }
                continue;  // what stood there may have hidden another clash
            }
            if (answer == ConflictAnswer::Cancel) throw zorvik::rt::canceled_error();
            if (answer == ConflictAnswer::CheckAgain) continue;
            if (answer == ConflictAnswer::AddUnderOtherName) {
                autoRename = true;
                if (!properties->IncrementNameIndex()) return path;
                continue;
            }
            if (!added && vacating.count(item->IndexInArchive())) {
                // A skipped rename or move leaves the entry where it was.
                const std::wstring oldPath = TreePath(RelativePath(*item->Source()));
                if (paths.ClashWith(oldPath, folder)) Contradiction("an entry kept in place where another one is moved");
                removal.erase(item->IndexInArchive());
                paths.Take(oldPath, item, folder);
            }
            break;  // skipped
        }
    }
    plan = std::move(checked);
    return std::nullopt;
}

}  // namespace Zorvik::Impl
