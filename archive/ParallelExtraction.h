// An extraction on several threads. Each thread has an engine handler of its own: the first
// thread (the operation's) the archive's, every other one a handler opened again over clones of
// the caller's streams. The threads take the planned runs in order, each run with its own
// extraction handler over its part of the map, so that the engine is never called on one
// handler from two threads and a thread that ends early takes the next run.
#pragma once

#include <optional>
#include <vector>

#include "archive/ExtractArchiveHandler.h"
#include "archive/ExtractionRuns.h"

namespace Zorvik {
class Archive;
}

namespace Zorvik::Impl {

// On at most threads threads. The HRESULT the extraction ends with: the first failure of any run (a cancel, a failure of
// the engine or of the caller's streams), S_OK when every run succeeded. The first exception of
// a run (a failing caller) is raised once every thread has stopped.
HRESULT ExtractInParallel(Archive& archive, const ExtractionMap& map, const std::vector<PlannedRun>& runs, std::size_t threads,
                          zorvik::rt::com_ptr<IExtractionCallback> callback, std::optional<zorvik::rt::cancellation_token> cancellation);

}  // namespace Zorvik::Impl
