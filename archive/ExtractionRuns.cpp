#include "archive/ExtractionRuns.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <unordered_set>

#include "model/FormatRecord.h"
#include "zorvik/runtime/oleauto.h"

namespace Zorvik::Impl {

namespace {

constexpr Engine::PROPID kpidBlock = 27;  // the solid block (7z folder, cab folder) an entry's data is in

// Formats whose entries decode on their own, or by blocks the handler names. RAR is not among
// them: the RAR library keeps its error count and progress for the whole process, so two readers
// at once would fail each other's entries, and its own decoder already runs on every core.
struct IndependentFormat {
    std::wstring_view Name;
    bool ByBlock;
};
constexpr std::array kIndependentFormats = {
    IndependentFormat{L"zip", false}, IndependentFormat{L"7z", true},   IndependentFormat{L"Cab", true},
    IndependentFormat{L"Iso", false}, IndependentFormat{L"Udf", false},
};

std::optional<std::uint64_t> BlockOf(Engine::IInArchive* handler, std::uint32_t index) {
    zorvik::rt::prop_variant block;
    if (handler->GetProperty(index, kpidBlock, block.put()) != S_OK) return std::nullopt;
    if (block.type() == VT_I4) return block.get().lVal < 0 ? std::nullopt : std::optional<std::uint64_t>(block.get().lVal);
    return block.as_uint64();
}

std::uint64_t SizeOf(Engine::IInArchive* handler, std::uint32_t index) {
    zorvik::rt::prop_variant size;
    if (handler->GetProperty(index, Engine::kpidSize, size.put()) != S_OK) return 0;
    return size.as_uint64().value_or(0);
}

// Whether two entries name one file (letter case aside, as a file system may ignore it), or a
// file is named where another entry needs a folder. Their order decides what is left, so their
// runs would have to keep it.
bool NamesClash(Engine::IInArchive* handler, const ExtractionMap& map, std::size_t entries) {
    std::unordered_set<std::wstring> files;
    std::unordered_set<std::wstring> folders;
    for (std::size_t position = 0; position < entries; ++position) {
        const std::uint32_t index = map.IndexAt(position);
        zorvik::rt::prop_variant path, isFolder;
        handler->GetProperty(index, Engine::kpidPath, path.put());
        handler->GetProperty(index, Engine::kpidIsDir, isFolder.put());
        std::wstring name(path.as_string().value_or(L""));
        for (wchar_t& c : name) {
            if (c == L'\\') c = L'/';
            if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        }
        for (std::size_t slash = name.find(L'/'); slash != std::wstring::npos; slash = name.find(L'/', slash + 1)) {
            std::wstring folder = name.substr(0, slash);
            if (files.count(folder)) return true;
            folders.insert(std::move(folder));
        }
        if (isFolder.as_bool().value_or(false)) {
            if (files.count(name)) return true;
            folders.insert(name);
        } else if (!files.insert(name).second || folders.count(name)) {
            return true;
        }
    }
    return false;
}

// A stretch of entries that must decode together: one block, or one entry.
struct Unit {
    std::size_t First;
    std::size_t Last;
    std::uint64_t Bytes;
};

// The units of map's entries; none when a block's entries are not next to each other.
std::vector<Unit> UnitsOf(Engine::IInArchive* handler, const ExtractionMap& map, std::size_t entries, bool byBlock) {
    std::vector<Unit> units;
    std::vector<std::uint64_t> blocksSeen;
    std::optional<std::uint64_t> currentBlock;
    for (std::size_t position = 0; position < entries; ++position) {
        const std::uint32_t index = map.IndexAt(position);
        const std::uint64_t bytes = SizeOf(handler, index);
        // Entries without data (folders, empty files) have no block and go with any unit.
        const std::optional<std::uint64_t> block = byBlock ? BlockOf(handler, index) : std::nullopt;
        if (byBlock && block && block == currentBlock) {
            units.back().Last = position + 1;
            units.back().Bytes += bytes;
            continue;
        }
        if (byBlock && block) {
            if (std::find(blocksSeen.begin(), blocksSeen.end(), *block) != blocksSeen.end()) return {};
            blocksSeen.push_back(*block);
            currentBlock = block;
        }
        if (byBlock && !block && !units.empty()) {
            units.back().Last = position + 1;
            continue;
        }
        units.push_back({position, position + 1, bytes});
    }
    return units;
}

}  // namespace

std::vector<PlannedRun> PlanRuns(Engine::IInArchive* handler, std::wstring_view format, std::uint32_t archiveItems,
                                 const ExtractionMap& map, const RunLimits& limits) {
    const std::size_t entries = map.Remaining();
    std::vector<PlannedRun> one{{0, entries, 0}};
    const auto independent = std::find_if(kIndependentFormats.begin(), kIndependentFormats.end(),
                                          [&](const IndependentFormat& known) { return NamesEqual(known.Name, format); });
    if (limits.Threads < 2 || entries < 2 || independent == kIndependentFormats.end()) return one;

    if (NamesClash(handler, map, entries)) return one;
    const std::vector<Unit> units = UnitsOf(handler, map, entries, independent->ByBlock);
    std::uint64_t bytes = 0;
    for (const Unit& unit : units) bytes += unit.Bytes;
    const std::uint64_t cost =
        limits.LeastWork + std::uint64_t(archiveItems) * limits.OpenWorkPerArchiveEntry + entries * limits.TurnWorkPerEntry;
    if (units.size() < 2 || bytes < cost) return one;
    const std::uint64_t work = bytes + entries * limits.WorkPerEntry;

    // A few runs a thread, so that a thread that ends early takes another while a large run is
    // still going; each run is one engine call, with its own start.
    constexpr std::uint64_t kRunsPerThread = 4;
    const std::uint64_t target = std::max<std::uint64_t>(work / (limits.Threads * kRunsPerThread), 1);
    std::vector<PlannedRun> runs;
    std::uint64_t runWork = 0;
    for (const Unit& unit : units) {
        if (runs.empty() || runWork >= target) {
            runs.push_back({unit.First, unit.Last, 0});
            runWork = 0;
        }
        runs.back().Last = unit.Last;
        runs.back().Bytes += unit.Bytes;
        runWork += unit.Bytes + (unit.Last - unit.First) * limits.WorkPerEntry;
    }
    return runs;
}

}  // namespace Zorvik::Impl
