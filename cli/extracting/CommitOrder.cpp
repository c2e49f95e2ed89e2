#include "cli/extracting/CommitOrder.h"

#include <utility>

namespace Zorvik::Cli {

CommitOrder::CommitOrder(const DestinationFolder* destination, Settled settled) : commits_(destination), settled_(std::move(settled)) {}

void CommitOrder::Push(DestinationFolder::CreatedFile file, std::optional<timespec> modified, ExtractionItem item, std::wstring key) {
    commits_.Push(std::move(file), modified);
    keys_.insert(key);
    committing_.push_back({std::move(item), std::move(key)});
}

void CommitOrder::Settle(bool wait) {
    if (settling_ || committing_.empty()) return;
    // What it settles waits for nothing: it is next in order.
    settling_ = true;
    try {
        for (CommitQueue::Outcome& outcome : commits_.Take(wait)) {
            Committing committed = std::move(committing_.front());
            committing_.pop_front();
            keys_.erase(keys_.find(committed.key));
            settled_(committed.item, outcome);
        }
    } catch (...) {
        settling_ = false;
        throw;
    }
    settling_ = false;
}

std::wstring CommitOrder::SettleOn(const std::vector<std::wstring>& destination) {
    Settle(false);
    std::wstring key;
    for (const std::wstring& name : destination) {
        AppendKey(key, name);
        if (!keys_.empty() && keys_.count(key)) Settle(true);
    }
    return key;
}

void CommitOrder::AppendKey(std::wstring& key, std::wstring_view name) {
    if (name.empty() || name == L".") return;  // the folder that holds it, as for the file system
    if (!key.empty()) key += L'/';
    for (const wchar_t c : name) key += c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

}  // namespace Zorvik::Cli
