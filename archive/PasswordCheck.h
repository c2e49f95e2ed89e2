// Whether a password opens the encrypted entries of an archive, asked before an update writes
// new data beside them: an archive whose entries need two passwords, or whose new entries are
// stored in the clear among encrypted ones, is what the check prevents.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/EngineInterfaces.h"
#include "zorvik/UpdateCallback.h"
#include "zorvik/runtime/async.h"

namespace Zorvik::Impl {

// The smallest encrypted file among the entries kept, cheapest to decode; none when no kept
// entry is encrypted.
std::optional<std::uint32_t> EncryptedEntry(Engine::IInArchive* handler, const std::vector<std::uint32_t>& kept);

// Asks the caller for the password of the archive's encrypted entries and proves it on entry
// (decoded in the engine's test mode, nothing written). Raises kWrongPassword when the caller
// has none or it does not open the entry, cancels on a cancel answer (or of the operation),
// and raises what else the engine reports.
std::wstring ProvenPassword(Engine::IInArchive* handler, std::uint32_t entry, IUpdateCallback& callback,
                            const zorvik::rt::cancellation_token& cancellation);

}  // namespace Zorvik::Impl
