#include "cli/EntryList.h"

#include <utility>

#include "Zorvik/PosixProperties.h"

namespace Zorvik::Cli {

using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;
using zorvik::rt::hstring;

namespace {

std::vector<com_ptr<IArchiveItem>> Children(IArchiveFolder* folder) {
    com_ptr<IObservableVector<IArchiveItem*>> observable;
    check_hresult(folder->get_Items(observable.put()));
    const auto items = observable.as<IVector<IArchiveItem*>>();
    std::uint32_t count = 0;
    check_hresult(items->get_Size(&count));
    std::vector<com_ptr<IArchiveItem>> result(count);
    for (std::uint32_t i = 0; i < count; ++i) check_hresult(items->GetAt(i, result[i].put()));
    return result;
}

Entry Describe(com_ptr<IArchiveItem> item, const Entry* parent) {
    Entry entry;
    hstring name;
    check_hresult(item->get_Name(name.put()));
    if (parent) entry.components = parent->components;
    entry.components.emplace_back(name.view());
    entry.path = parent ? parent->path + "/" : std::string();
    entry.path += zorvik::rt::to_utf8(name.view());
    entry.folder = static_cast<bool>(item.try_as<IArchiveFolder>());

    com_ptr<IArchiveEntryProperties> properties;
    check_hresult(item->get_Properties(properties.put()));
    entry.implicit = !properties;
    if (properties) {
        const auto fileSystem = properties.as<IFileSystemProperties>();
        hstring path;
        check_hresult(fileSystem->get_Path(path.put()));
        entry.entryPath = path.view();
        check_hresult(fileSystem->get_Size(&entry.size));
        check_hresult(properties->get_PackedSize(&entry.packedSize));
        DateTime modified{};
        check_hresult(fileSystem->get_DateModified(&modified));
        entry.modified = modified.UniversalTime;
        check_hresult(properties.as<__IArchiveEntryPropertiesPublicNonVirtuals>()->get_IsEncrypted(&entry.encrypted));
        const auto posix = properties.as<IPosixEntryProperties>();
        check_hresult(posix->get_Mode(&entry.mode));
        hstring symbolic, hard;
        check_hresult(posix->get_SymbolicLinkTarget(symbolic.put()));
        check_hresult(posix->get_HardLinkTarget(hard.put()));
        entry.symbolicLinkTarget = symbolic.view();
        entry.hardLinkTarget = hard.view();
    }
    entry.item = std::move(item);
    return entry;
}

}  // namespace

std::vector<Entry> ListEntries(IArchiveFolder* root) {
    std::vector<Entry> entries;
    // An explicit stack (of a folder's entry index and its children still to visit), so that a
    // deeply nested archive cannot exhaust the call stack.
    struct Pending {
        std::size_t parent;  // index in entries, or npos for the root
        std::vector<com_ptr<IArchiveItem>> children;
        std::size_t next = 0;
    };
    constexpr std::size_t kRoot = static_cast<std::size_t>(-1);
    std::vector<Pending> stack;
    stack.push_back({kRoot, Children(root)});
    while (!stack.empty()) {
        Pending& top = stack.back();
        if (top.next == top.children.size()) {
            stack.pop_back();
            continue;
        }
        com_ptr<IArchiveItem> child = top.children[top.next++];
        const std::size_t parent = top.parent;
        entries.push_back(Describe(std::move(child), parent == kRoot ? nullptr : &entries[parent]));
        if (const auto folder = entries.back().item.try_as<IArchiveFolder>())
            stack.push_back({entries.size() - 1, Children(folder.get())});
    }
    return entries;
}

}  // namespace Zorvik::Cli
