// Extraction planning: which items are decoded, and into whose streams. A solid archive is
// decoded from its start, so every item is planned, those not asked for into no stream; a file
// copy is decoded from its original, into the copy's stream.
#include "rar.hpp"

#include <algorithm>
#include <map>

#include "rar/UnRAR.Shared/UnRAR.h"

namespace UnRAR {

std::vector<Reader::ExtractPlanItem> Reader::Plan(const std::vector<std::uint32_t>& indices) const {
    std::map<std::uint32_t, std::vector<std::uint32_t>> extractItems;
    const auto visit = [&](std::uint32_t index, bool requested) {
        if (index >= refItems_.size()) return;
        extractItems.try_emplace(index);
        const RefItem& item = refItems_[index];
        if (item.isLink) {
            // A copy asked for alone still needs its source decoded, into the copy's stream.
            auto& target = extractItems[item.linkTarget];
            if (requested) target.push_back(index);
        } else if (requested) {
            extractItems[index].push_back(index);
        }
    };
    if (archive_->Solid) {
        std::vector<std::uint32_t> sorted(indices);
        std::sort(sorted.begin(), sorted.end());
        for (std::uint32_t index = 0; index < refItems_.size(); ++index)
            visit(index, std::binary_search(sorted.begin(), sorted.end(), index));
    } else {
        for (const std::uint32_t index : indices) visit(index, true);
    }

    std::vector<ExtractPlanItem> plan;
    for (auto& [index, destinations] : extractItems) {
        // The same index asked for twice gets one stream.
        std::sort(destinations.begin(), destinations.end());
        destinations.erase(std::unique(destinations.begin(), destinations.end()), destinations.end());
        plan.push_back(ExtractPlanItem{index, std::move(destinations)});
    }
    return plan;
}

}  // namespace UnRAR
