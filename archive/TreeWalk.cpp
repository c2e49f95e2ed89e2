#include "archive/TreeWalk.h"

#include "model/ArchiveItem.h"
#include "zorvik/runtime/collections.h"

namespace Zorvik::Impl {

using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;

com_ptr<ArchiveEntryProperties> EntryPropertiesOf(IArchiveItem& node, const PackedTree* tree) {
    com_ptr<IArchiveEntryProperties> properties;
    check_hresult(node.get_Properties(properties.put()));
    if (!properties) return nullptr;
    zorvik::rt::hstring className;
    check_hresult(properties->GetRuntimeClassName(className.put()));
    if (className.view() != zorvik::rt::to_wide(ArchiveEntryProperties::runtime_class_name)) throw zorvik::rt::invalid_argument_error();
    auto entry = com_ptr<ArchiveEntryProperties>::copy_from(static_cast<ArchiveEntryProperties*>(properties.get()));
    if (tree && entry->Tree() != tree) throw zorvik::rt::invalid_argument_error("an item of another archive's tree");
    return entry;
}

void CheckNodeOf(const PackedTree* tree, IArchiveItem& node) {
    if (const ArchiveItem* ours = ArchiveItem::Of(&node)) {
        if (&ours->Tree() != tree) throw zorvik::rt::invalid_argument_error("an item of another archive's tree");
        return;
    }
    EntryPropertiesOf(node, tree);
}

const PackedTree* TreeOf(IArchiveFolder* root) {
    const ArchiveItem* item = ArchiveItem::Of(root);
    return item ? &item->Tree() : nullptr;
}

std::vector<com_ptr<IArchiveItem>> ChildrenOf(IArchiveItem& node) {
    com_ptr<IArchiveFolder> folder;
    if (FAILED(node.QueryInterface(IArchiveFolder::iid, folder.put_void())) || !folder) return {};
    com_ptr<IObservableVector<IArchiveItem*>> children;
    check_hresult(folder->get_Items(children.put()));
    return zorvik::rt::to_std_vector(children.as<IVector<IArchiveItem*>>().get());
}

void VisitDepthFirst(const com_ptr<IArchiveItem>& node, const std::function<void(const com_ptr<IArchiveItem>&)>& visit) {
    // The folders being walked, each with its children and the next one to visit: an explicit
    // stack (a deeply nested tree must not exhaust the call stack), and one child object made at
    // a time, even in a folder of a million.
    struct Level {
        com_ptr<IVector<IArchiveItem*>> children;
        std::uint32_t count = 0;
        std::uint32_t next = 0;
    };
    std::vector<Level> walk;
    const auto enter = [&](const com_ptr<IArchiveItem>& current) {
        visit(current);
        const auto folder = current.try_as<IArchiveFolder>();
        if (!folder) return;
        com_ptr<IObservableVector<IArchiveItem*>> children;
        check_hresult(folder->get_Items(children.put()));
        Level& level = walk.emplace_back(Level{children.as<IVector<IArchiveItem*>>()});
        check_hresult(level.children->get_Size(&level.count));
    };
    enter(node);
    while (!walk.empty()) {
        Level& level = walk.back();
        if (level.next == level.count) {
            walk.pop_back();
            continue;
        }
        com_ptr<IArchiveItem> child;
        check_hresult(level.children->GetAt(level.next++, child.put()));
        enter(child);
    }
}

}  // namespace Zorvik::Impl
