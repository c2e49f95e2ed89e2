#include "cli/reading/EntryList.h"

#include <utility>
#include <vector>

#include "cli/reading/FileTime.h"

namespace Zorvik::Cli {

namespace {

// A folder being walked: its children and the length of the path that leads to them.
struct Level {
    decltype(std::declval<const zorvik::ArchiveFolder&>().children()) children;
    std::uint32_t next = 0;
    std::size_t pathLength = 0;
};

}  // namespace

zorvik::EntryProperties ReadFacts(const zorvik::ArchiveItem& item, EntryFacts& facts) {
    facts = EntryFacts{};
    facts.folder = item.is_folder();
    zorvik::EntryProperties properties = item.properties();
    facts.implicit = !properties;
    if (!properties) return properties;
    facts.size = properties.size();
    facts.packedSize = properties.packed_size();
    facts.modified = TicksOf(properties.modified());
    facts.encrypted = properties.encrypted();
    zorvik::EntryProperties::Posix posix = properties.posix();
    facts.mode = posix.mode;
    facts.symbolicLinkTarget = std::move(posix.link_target);
    facts.hardLinkTarget = std::move(posix.hard_link_target);
    return properties;
}

void WalkEntries(const zorvik::ArchiveFolder& root, const std::function<bool(const Entry&)>& visit) {
    Entry entry;
    // An explicit stack, so that a deeply nested archive cannot exhaust the call stack; the
    // path grows and shrinks with it.
    std::vector<Level> stack;
    stack.push_back({root.children(), 0, 0});
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.next == top.children.size()) {
            stack.pop_back();
            continue;
        }
        entry.item = top.children[top.next++];
        entry.path.resize(top.pathLength);
        entry.depth = stack.size();
        entry.path += entry.item.name();
        ReadFacts(entry.item, entry);
        if (visit(entry) && entry.folder) {
            entry.path += '/';
            stack.push_back({entry.item.as_folder()->children(), 0, entry.path.size()});
        }
    }
}

}  // namespace Zorvik::Cli
