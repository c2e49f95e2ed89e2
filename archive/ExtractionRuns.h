// How the entries of one extraction are cut into runs that decode independently, each on an
// engine handler of its own. A run is a stretch of the map's entries in ascending order; a solid
// block never spans two runs. Archives whose entries depend on each other, and extractions too
// small to pay for opening the archive again, make one run.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "archive/ExtractArchiveHandler.h"
#include "engine/EngineInterfaces.h"

namespace Zorvik::Impl {

struct PlannedRun {
    std::size_t First = 0;  // positions in the map, Last exclusive
    std::size_t Last = 0;
    std::uint64_t Bytes = 0;  // the entries' unpacked size
};

struct RunLimits {
    std::uint32_t Threads = 1;
    // Bytes to decode an extraction must have, on top of what a second handler costs, before
    // one pays.
    std::uint64_t LeastWork = 16u << 20;
    // What opening the archive again costs, in bytes decoded in the same time, for every entry
    // the archive holds.
    std::uint64_t OpenWorkPerArchiveEntry = 4u << 10;
    // What every extracted entry costs on top when two handlers take turns at the caller (whose
    // calls, one at a time, make each file): small files gain nothing from a second decoder and
    // lose by the hand-overs.
    std::uint64_t TurnWorkPerEntry = 4u << 10;
    // How the runs are balanced: an entry weighs as many bytes besides its own, since small
    // files cost by their number more than by their bytes.
    std::uint64_t WorkPerEntry = 16u << 10;
};

// The runs of map's entries (sealed, none removed, every index below archiveItems) in handler, an
// archive of format (the engine's name) holding archiveItems entries. One run covering all when
// they do not decode independently or the work is too small for limits.
std::vector<PlannedRun> PlanRuns(Engine::IInArchive* handler, std::wstring_view format, std::uint32_t archiveItems,
                                 const ExtractionMap& map, const RunLimits& limits);

}  // namespace Zorvik::Impl
