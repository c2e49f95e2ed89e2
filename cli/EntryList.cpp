#include "cli/EntryList.h"

#include <vector>

#include "zorvik/PosixProperties.h"

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

}  // namespace

com_ptr<IFileSystemProperties> ReadFacts(IArchiveItem* item, EntryFacts& facts) {
    facts = EntryFacts{};
    facts.folder = static_cast<bool>(com_ptr<IArchiveItem>::copy_from(item).try_as<IArchiveFolder>());
    com_ptr<IArchiveEntryProperties> properties;
    check_hresult(item->get_Properties(properties.put()));
    facts.implicit = !properties;
    if (!properties) return nullptr;
    auto fileSystem = properties.as<IFileSystemProperties>();
    check_hresult(fileSystem->get_Size(&facts.size));
    check_hresult(properties->get_PackedSize(&facts.packedSize));
    DateTime modified{};
    check_hresult(fileSystem->get_DateModified(&modified));
    facts.modified = modified.UniversalTime;
    check_hresult(properties.as<__IArchiveEntryPropertiesPublicNonVirtuals>()->get_IsEncrypted(&facts.encrypted));
    const auto posix = properties.as<IPosixEntryProperties>();
    check_hresult(posix->get_Mode(&facts.mode));
    hstring symbolic, hard;
    check_hresult(posix->get_SymbolicLinkTarget(symbolic.put()));
    check_hresult(posix->get_HardLinkTarget(hard.put()));
    facts.symbolicLinkTarget = symbolic.view();
    facts.hardLinkTarget = hard.view();
    return fileSystem;
}

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
        hstring name;
        check_hresult(item->get_Name(name.put()));
        entry.path += zorvik::rt::to_utf8(name.view());
        entry.item = item.get();
        ReadFacts(item.get(), entry);
        if (visit(entry) && entry.folder) {
            entry.path += '/';
            stack.push_back(Open(item.as<IArchiveFolder>().get(), entry.path.size()));
        }
    }
}

}  // namespace Zorvik::Cli
