#include "cli/EntryList.h"

#include <vector>

namespace Zorvik::Cli {

using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;
using zorvik::rt::hstring;

namespace {

// A folder being walked: its children and the length of the path that leads to them.
struct Level {
    com_ptr<IVector<IArchiveItem*>> children;
    std::uint32_t count = 0;
    std::uint32_t next = 0;
    std::size_t pathLength = 0;
};

Level Open(IArchiveFolder* folder, std::size_t pathLength) {
    com_ptr<IObservableVector<IArchiveItem*>> observable;
    check_hresult(folder->get_Items(observable.put()));
    Level level{observable.as<IVector<IArchiveItem*>>(), 0, 0, pathLength};
    check_hresult(level.children->get_Size(&level.count));
    return level;
}

void Describe(IArchiveItem* item, Entry& entry) {
    hstring name;
    check_hresult(item->get_Name(name.put()));
    entry.path += zorvik::rt::to_utf8(name.view());
    entry.item = item;
    com_ptr<IArchiveEntryProperties> properties;
    check_hresult(item->get_Properties(properties.put()));
    entry.implicit = !properties;
    entry.encrypted = false;
    entry.size = entry.packedSize = 0;
    entry.modified = 0;
    if (!properties) return;
    const auto fileSystem = properties.as<IFileSystemProperties>();
    check_hresult(fileSystem->get_Size(&entry.size));
    check_hresult(properties->get_PackedSize(&entry.packedSize));
    DateTime modified{};
    check_hresult(fileSystem->get_DateModified(&modified));
    entry.modified = modified.UniversalTime;
    check_hresult(properties.as<__IArchiveEntryPropertiesPublicNonVirtuals>()->get_IsEncrypted(&entry.encrypted));
}

}  // namespace

void WalkEntries(IArchiveFolder* root, const std::function<bool(const Entry&)>& visit) {
    Entry entry;
    // An explicit stack, so that a deeply nested archive cannot exhaust the call stack; the
    // path grows and shrinks with it.
    std::vector<Level> stack;
    stack.push_back(Open(root, 0));
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.next == top.count) {
            stack.pop_back();
            continue;
        }
        com_ptr<IArchiveItem> item;
        check_hresult(top.children->GetAt(top.next++, item.put()));
        entry.path.resize(top.pathLength);
        entry.depth = stack.size();
        Describe(item.get(), entry);
        const auto folder = item.try_as<IArchiveFolder>();
        entry.folder = static_cast<bool>(folder);
        if (visit(entry) && folder) {
            entry.path += '/';
            stack.push_back(Open(folder.get(), entry.path.size()));
        }
    }
}

}  // namespace Zorvik::Cli
