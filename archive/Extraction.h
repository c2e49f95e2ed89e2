// The extraction operation of an Archive: the chosen items expanded to their entries, and the
// engine run over them under the archive's file lock, repeated for entries the caller retries;
// on several threads when the entries decode independently and there is enough to do.
#pragma once

#include <optional>
#include <vector>

#include "archive/EngineOutcome.h"
#include "archive/ExtractArchiveHandler.h"
#include "archive/ExtractionRuns.h"
#include "zorvik/Extraction.h"
#include "zorvik/runtime/async.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik {
class Archive;
}

namespace Zorvik::Impl {

// The body of ExtractAsync, run on the operation's thread. True when the engine succeeded, false
// on an ordinary failure or an empty choice; raises kArchiveInUse when the file lock is held,
// E_ILLEGAL_METHOD_CALL when nothing is open, E_INVALIDARG for an item that is not of the tree
// the archive shows now, and cancels (E_ABORT) on the caller's request, whether a callback
// answer or a cancel of the operation. limits replaces what the archive's thread count and the
// usual thresholds give.
bool Extract(Archive& archive, std::vector<zorvik::rt::com_ptr<IArchiveItem>> items, zorvik::rt::com_ptr<IExtractionCallback> callback,
             std::optional<zorvik::rt::cancellation_token> cancellation = std::nullopt, std::optional<RunLimits> limits = std::nullopt);

// The entries of map through engine (null: the archive's own handler, taken afresh for each
// engine run), the engine restarted for those the caller retries; every entry the engine
// stopped inside reported. The HRESULT of the last engine run, or the failure it did not see (data
// that never reached its stream, entries it never reached).
HRESULT ExtractEntries(Archive& archive, Engine::IInArchive* engine, ExtractArchiveHandler& handler, const ExtractionMap& map);

}  // namespace Zorvik::Impl
