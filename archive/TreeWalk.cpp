#include "archive/TreeWalk.h"

#include "zorvik/runtime/collections.h"

namespace Zorvik::Impl {

using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;

com_ptr<ArchiveEntryProperties> EntryPropertiesOf(IArchiveItem& node) {
    com_ptr<IArchiveEntryProperties> properties;
    check_hresult(node.get_Properties(properties.put()));
    if (!properties) return nullptr;
    zorvik::rt::hstring className;
    check_hresult(properties->GetRuntimeClassName(className.put()));
    if (className.view() != zorvik::rt::to_wide(ArchiveEntryProperties::runtime_class_name)) throw zorvik::rt::invalid_argument_error();
    return com_ptr<ArchiveEntryProperties>::copy_from(static_cast<ArchiveEntryProperties*>(properties.get()));
}

std::vector<com_ptr<IArchiveItem>> ChildrenOf(IArchiveItem& node) {
    com_ptr<IArchiveFolder> folder;
    if (FAILED(node.QueryInterface(IArchiveFolder::iid, folder.put_void())) || !folder) return {};
    com_ptr<IObservableVector<IArchiveItem*>> children;
    check_hresult(folder->get_Items(children.put()));
    return zorvik::rt::to_std_vector(children.as<IVector<IArchiveItem*>>().get());
}

void VisitDepthFirst(const com_ptr<IArchiveItem>& node, const std::function<void(const com_ptr<IArchiveItem>&)>& visit) {
    // An explicit stack: a deeply nested tree must not exhaust the call stack.
    std::vector<com_ptr<IArchiveItem>> pending{node};
    while (!pending.empty()) {
        const com_ptr<IArchiveItem> current = std::move(pending.back());
        pending.pop_back();
        visit(current);
        auto children = ChildrenOf(*current);
        for (auto child = children.rbegin(); child != children.rend(); ++child) pending.push_back(std::move(*child));
    }
}

}  // namespace Zorvik::Impl
