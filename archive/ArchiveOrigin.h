// What an archive was opened from, kept so that extraction can open it again on a thread of its
// own: the caller's stream and the volumes it gave, the format that opened them, and the password
// the open used. Opening again asks the caller nothing: every stream is a clone of one it gave.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/EngineInterfaces.h"
#include "engine/OpenArchiveHandler.h"
#include "zorvik/runtime/com_ptr.h"
#include "zorvik/runtime/streams_abi.h"

namespace Zorvik::Impl {

struct ArchiveOrigin {
    zorvik::rt::com_ptr<ABI::Windows::Storage::Streams::IRandomAccessStream> Stream;
    std::vector<OpenArchiveHandler::GivenVolume> Volumes;
    GUID ClassId{};
    std::wstring Name;
    std::optional<std::wstring> Password;
    // Entries the handler of the first open found, which a handler opened again must find too.
    std::uint32_t ItemCount = 0;
};

// A new handler of the format over clones of the streams, or null when a stream cannot be cloned
// or the handler does not open them as it did the first time.
zorvik::rt::com_ptr<Engine::IInArchive> OpenAgain(const std::shared_ptr<const ArchiveOrigin>& origin);

}  // namespace Zorvik::Impl
