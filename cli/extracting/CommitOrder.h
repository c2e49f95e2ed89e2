// The order in which an extraction's files take their names and are reported: a file written
// whole waits in the CommitQueue for its name, and is told of (settled) only after those before
// it, whatever it is. A later entry written at a path (or below a folder) whose file still waits
// for its name first waits for that commit, so that it finds the file in place.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "cli/extracting/CommitQueue.h"
#include "cli/extracting/ExtractionItem.h"

namespace Zorvik::Cli {

class CommitOrder {
public:
    // Told of each file whose commit ended, in the order they were pushed.
    using Settled = std::function<void(ExtractionItem& item, const CommitQueue::Outcome& outcome)>;

    CommitOrder(const DestinationFolder* destination, Settled settled);

    void Push(DestinationFolder::CreatedFile file, std::optional<timespec> modified, ExtractionItem item, std::wstring key);
    // Settles the commits that have ended (every one, when wait). What it settles may settle
    // again: those calls return at once.
    void Settle(bool wait);
    // Waits for the commits at destination or at a folder on its way; the destination's key.
    std::wstring SettleOn(const std::vector<std::wstring>& destination);

    // Extends the key under which a destination path waits for its commit by one name: names
    // that differ only in ASCII case share one, as a file system may take them for one.
    static void AppendKey(std::wstring& key, std::wstring_view name);

private:
    struct Committing {
        ExtractionItem item;
        std::wstring key;
    };

    CommitQueue commits_;
    const Settled settled_;
    std::deque<Committing> committing_;  // in the order of commits_
    std::unordered_multiset<std::wstring> keys_;
    bool settling_ = false;
};

}  // namespace Zorvik::Cli
