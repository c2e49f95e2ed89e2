#include "cli/extracting/UnheardEntries.h"

#include <algorithm>
#include <unordered_map>

namespace Zorvik::Cli {

void UnheardEntries::Find(const zorvik::ArchiveFolder& root, const std::vector<std::string>& chosen, const Selection* selection,
                          const std::function<void(const Entry&)>& unheard) {
    std::sort(heard_.begin(), heard_.end());
    std::unordered_map<std::size_t, std::uint32_t> taken;  // results matched so far, by key
    WalkEntries(root, [&](const Entry& entry) {
        if (selection && selection->Excluded(entry.path)) return false;
        if (entry.folder) return true;
        const bool asked = std::any_of(chosen.begin(), chosen.end(), [&](const std::string& path) {
            return path.empty() || entry.path == path || entry.path.rfind(path + "/", 0) == 0;
        });
        if (!asked) return true;
        const std::size_t key = Key(zorvik::rt::to_wide(entry.path));
        const auto [first, last] = std::equal_range(heard_.begin(), heard_.end(), key);
        if (std::uint32_t& used = taken[key]; used < last - first)
            ++used;
        else
            unheard(entry);
        return true;
    });
}

}  // namespace Zorvik::Cli
