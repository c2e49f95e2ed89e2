// Finding the format handler that opens a stream: formats named by the extension first, then
// formats whose signature occurs near the start of the stream.
#pragma once

#include <optional>

#include "engine/OpenArchiveHandler.h"
#include "model/FormatRecord.h"

namespace Zorvik::Impl {

struct OpenedArchive {
    zorvik::rt::com_ptr<Engine::IInArchive> Handler;
    FormatRecord Format;
};

// Whether one of the format's extensions is extension, compared as names are.
bool HasExtension(const FormatRecord& format, std::wstring_view extension);

// Opens stream with the first format that accepts it, or answers nothing. archiveSize is what
// the open handler's TotalSize restarts from before each attempt. Raises canceled_error when
// the caller or the engine cancels, and the caller's own failures.
std::optional<OpenedArchive> ProbeFormats(const FormatList& formats, Engine::IInStream* stream, OpenArchiveHandler& handler,
                                          IArchiveSource* source, std::uint64_t archiveSize);

// The name of the first format whose signature begins the stream, or empty. When no handler
// opened the stream, that format's data is damaged or cut short.
std::wstring FormatAtStart(const FormatList& formats, Engine::IInStream* stream);

}  // namespace Zorvik::Impl
