// The accounting of an extraction's results: every entry the component gave a result for is
// remembered as its path hashed (eight bytes an entry, where a set of the items would keep their
// objects), so that the files below the chosen nodes it said nothing about can be found at the
// end: a run that extracted or tested nothing of what it was asked for is no success.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/reading/EntryList.h"
#include "cli/reading/Selection.h"

namespace Zorvik::Cli {

class UnheardEntries {
public:
    // How many entries the component was asked for (it tells).
    void Expect(std::uint32_t count) noexcept { expected_ = count; }
    void Heard(std::wstring_view path) { heard_.push_back(Key(path)); }
    bool AnyUnheard() const noexcept { return heard_.size() < expected_; }

    // Calls unheard for every file below the chosen paths ("" for the root) that the selection
    // keeps and no result stands for. Entries of one path share a key: each result heard
    // stands for one of them.
    void Find(const zorvik::ArchiveFolder& root, const std::vector<std::string>& chosen, const Selection* selection,
              const std::function<void(const Entry&)>& unheard);

private:
    static std::size_t Key(std::wstring_view path) { return std::hash<std::wstring_view>()(path); }

    std::vector<std::size_t> heard_;
    std::uint32_t expected_ = 0;
};

}  // namespace Zorvik::Cli
