#include "model/PackedTree.h"

#include "model/ArchiveFile.h"
#include "model/ArchiveFolder.h"
#include "model/FolderItems.h"
#include "model/PathComponents.h"

namespace Zorvik::Impl {

using zorvik::rt::com_ptr;

PackedTree::PackedTree() { Add(kNoNode, {}, kFolder); }

PackedTree::~PackedTree() = default;

std::uint32_t PackedTree::Add(std::uint32_t parent, PackedText name, std::uint8_t flags) {
    if (nodes_.size() >= kMostTreeNodes) zorvik::rt::throw_hresult(kTooManyEntries);
    const auto index = static_cast<std::uint32_t>(nodes_.size());
    Node& node = nodes_.emplace_back();
    node.text = name.Data();
    node.textLength = name.StoredLength();
    node.nameLength = name.size();
    node.parent = parent;
    node.flags = flags;
    if (flags & kFolder) node.content.folder = {kNoNode, kNoNode};
    if (parent != kNoNode) {
        auto& links = nodes_[parent].content.folder;
        if (links.lastChild == kNoNode)
            links.firstChild = index;
        else
            nodes_[links.lastChild].nextSibling = index;
        links.lastChild = index;
    }
    return index;
}

std::uint32_t PackedTree::AddFolder(std::uint32_t parent, PackedText name, const EntryProperties* properties) {
    const std::uint32_t folder = Add(parent, name, kFolder);
    if (properties) SetProperties(folder, *properties);
    return folder;
}

std::uint32_t PackedTree::AddFile(std::uint32_t parent, PackedText name, const EntryProperties& properties) {
    const std::uint32_t file = Add(parent, name, 0);
    SetProperties(file, properties);
    return file;
}

void PackedTree::GiveProperties(std::uint32_t folder, const EntryProperties& properties) { SetProperties(folder, properties); }

void PackedTree::SetProperties(std::uint32_t index, const EntryProperties& properties) {
    Node& node = nodes_[index];
    node.flags |= kHasProperties;
    if (properties.IsEncrypted) node.flags |= kEncrypted;
    node.entry = properties.Index;
    const PackedText path = properties.Path;
    const PackedText name = Name(index);
    if (path.empty()) {
        node.flags |= kNamedByArchive;
    } else if (path.size() >= name.size() && path.substr(path.size() - name.size()) == name) {
        node.text = path.Data();
        node.textLength = path.StoredLength();
    } else {
        // A node whose name is not the end of its entry's path keeps the path apart.
        node.flags |= kPathApart;
        pathsApart_[index] = path;
    }
    if (!(node.flags & kFolder)) node.content.file = {properties.Size, properties.PackedSize};
    node.modified = properties.Modified;
    node.mode = properties.Mode;
    if (!properties.SymbolicLink.empty() || !properties.HardLink.empty()) links_[index] = {properties.SymbolicLink, properties.HardLink};
    if (properties.Created != 0 || properties.Accessed != 0) {
        if (otherTimes_.size() <= index) otherTimes_.resize(index + 1);
        otherTimes_[index] = {properties.Created, properties.Accessed};
    }
}

PackedText PackedTree::Name(std::uint32_t node) const noexcept {
    const PackedText text = Text(nodes_[node]);
    return text.substr(text.size() - nodes_[node].nameLength);
}

PackedText PackedTree::EntryPath(std::uint32_t node) const {
    const std::uint8_t flags = nodes_[node].flags;
    if (!(flags & kHasProperties) || (flags & kNamedByArchive)) return {};
    if (flags & kPathApart) return pathsApart_.at(node);
    return Text(nodes_[node]);
}

PackedTree::LinkTargets PackedTree::Links(std::uint32_t node) const {
    const auto found = links_.find(node);
    return found == links_.end() ? LinkTargets{} : found->second;
}

std::vector<std::uint32_t> PackedTree::Children(std::uint32_t folder) const {
    std::vector<std::uint32_t> children;
    for (std::uint32_t child = nodes_[folder].content.folder.firstChild; child != kNoNode; child = nodes_[child].nextSibling)
        children.push_back(child);
    return children;
}

PackedTree::FileTotals PackedTree::Totals() const noexcept {
    FileTotals totals;
    for (const Node& node : nodes_) {
        if ((node.flags & kFolder) || !(node.flags & kHasProperties)) continue;
        ++totals.Count;
        totals.Size += node.content.file.size;
    }
    return totals;
}

template <typename Object>
com_ptr<Object> PackedTree::Obtain(std::uint32_t node, Object* InUse::*slot) {
    std::lock_guard lock(mutex_);
    return ObtainLocked(node, slot);
}

template <typename Object>
com_ptr<Object> PackedTree::ObtainLocked(std::uint32_t node, Object* InUse::*slot) {
    auto place = inUse_.try_emplace(node).first;
    Object*& inUse = place->second.*slot;
    com_ptr<Object> object;
    if (inUse && inUse->add_ref_unless_released()) {
        object.attach(inUse);
        return object;
    }
    try {
        object = zorvik::rt::make<Object>(shared_from_this(), node);
    } catch (...) {
        const InUse& objects = place->second;
        if (!objects.folder && !objects.file && !objects.properties && !objects.items) inUse_.erase(place);
        throw;
    }
    inUse = object.get();
    return object;
}

com_ptr<IArchiveItem> PackedTree::Item(std::uint32_t node) {
    if (IsFolder(node)) return Folder(node);
    return File(node);
}

com_ptr<ArchiveFolder> PackedTree::Folder(std::uint32_t node) { return Obtain(node, &InUse::folder); }

com_ptr<ArchiveFile> PackedTree::File(std::uint32_t node) { return Obtain(node, &InUse::file); }

com_ptr<ArchiveEntryProperties> PackedTree::Properties(std::uint32_t node) {
    if (!HasProperties(node)) return nullptr;
    return Obtain(node, &InUse::properties);
}

com_ptr<FolderItems> PackedTree::Items(std::uint32_t folder, com_ptr<FolderItems>& keeper) {
    std::lock_guard lock(mutex_);
    if (!keeper) keeper = ObtainLocked(folder, &InUse::items);
    return keeper;
}

com_ptr<IArchiveItem> PackedTree::ItemInUse(std::uint32_t node) {
    std::lock_guard lock(mutex_);
    const auto found = inUse_.find(node);
    if (found == inUse_.end()) return nullptr;
    if (ArchiveFolder* folder = found->second.folder; folder && folder->add_ref_unless_released()) {
        com_ptr<IArchiveItem> item;
        item.attach(folder);
        return item;
    }
    if (ArchiveFile* file = found->second.file; file && file->add_ref_unless_released()) {
        com_ptr<IArchiveItem> item;
        item.attach(file);
        return item;
    }
    return nullptr;
}

void PackedTree::Forget(std::uint32_t node, const void* object) noexcept {
    std::lock_guard lock(mutex_);
    const auto found = inUse_.find(node);
    if (found == inUse_.end()) return;
    InUse& objects = found->second;
    if (objects.folder == object) objects.folder = nullptr;
    if (objects.file == object) objects.file = nullptr;
    if (objects.properties == object) objects.properties = nullptr;
    if (objects.items == object) objects.items = nullptr;
    if (!objects.folder && !objects.file && !objects.properties && !objects.items) inUse_.erase(found);
}

bool PackedTree::ItemInUseLocked(std::uint32_t node) const {
    const auto found = inUse_.find(node);
    return found != inUse_.end() && (found->second.folder || found->second.file);
}

std::uint32_t PackedTree::TopmostInUse(std::uint32_t node) const {
    if (ItemInUseLocked(kRoot)) return kRoot;  // the archive holds its root: everything is reachable
    std::uint32_t topmost = kNoNode;
    for (; node != kNoNode; node = nodes_[node].parent)
        if (ItemInUseLocked(node)) topmost = node;
    return topmost;
}

com_ptr<ArchiveFolder> PackedTree::ReachableParent(std::uint32_t node) {
    const std::uint32_t parent = nodes_[node].parent;
    if (parent == kNoNode) return nullptr;
    std::lock_guard lock(mutex_);
    if (TopmostInUse(parent) == kNoNode) return nullptr;
    return ObtainLocked(parent, &InUse::folder);
}

std::wstring PackedTree::RelativePath(std::uint32_t node, const IArchiveFolder* ancestor) {
    return RelativePathUntil(node, [&](std::uint32_t folder) {
        if (!ancestor) return false;
        const auto found = inUse_.find(folder);
        return found != inUse_.end() && static_cast<const IArchiveFolder*>(found->second.folder) == ancestor;
    });
}

std::wstring PackedTree::RelativePathBelow(std::uint32_t node, std::uint32_t ancestor) {
    return RelativePathUntil(node, [&](std::uint32_t folder) { return folder == ancestor; });
}

template <typename IsAncestor>
std::wstring PackedTree::RelativePathUntil(std::uint32_t node, IsAncestor isAncestor) {
    std::vector<std::uint32_t> folders;  // innermost first
    {
        std::lock_guard lock(mutex_);
        const std::uint32_t parent = nodes_[node].parent;
        const std::uint32_t topmost = parent == kNoNode ? kNoNode : TopmostInUse(parent);
        // The topmost reachable folder has no reachable parent: like the root, it names nothing.
        for (std::uint32_t folder = parent; topmost != kNoNode && folder != topmost && !isAncestor(folder); folder = nodes_[folder].parent)
            folders.push_back(folder);
    }
    std::size_t length = Name(node).size();
    for (const std::uint32_t folder : folders) length += Name(folder).size() + 1;
    std::wstring path;
    path.reserve(length);
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        Name(*folder).AppendTo(path);
        path += kPathSeparator;
    }
    Name(node).AppendTo(path);
    return path;
}

void PackedTree::Pin(com_ptr<FolderItems> items) {
    std::lock_guard lock(mutex_);
    pinned_.push_back(std::move(items));
}

void PackedTree::ReleasePins() noexcept {
    std::vector<com_ptr<FolderItems>> released;
    {
        std::lock_guard lock(mutex_);
        released.swap(pinned_);
    }
    // Released here, without the lock: each object forgets itself under it.
}

}  // namespace Zorvik::Impl
