#include "cli/extracting/ExtractionItem.h"

namespace Zorvik::Cli {

ExtractionItem ExtractionItem::Of(const zorvik::ArchiveItem& node) {
    ExtractionItem item;
    item.item = node;
    item.path = node.wide_path().view();
    const zorvik::EntryProperties properties = ReadFacts(node, item);
    if (!properties) return item;
    item.entryPath = zorvik::rt::to_wide(properties.path());
    item.index = properties.index();
    return item;
}

}  // namespace Zorvik::Cli
