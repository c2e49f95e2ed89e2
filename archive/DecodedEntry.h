// The decoded content of one entry as a seekable engine stream, for handlers that cannot lend
// one (a gzip or bzip2 file holding a tar): decoded once into the temporary folder.
#pragma once

#include "engine/EngineInterfaces.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Impl {

// Null when the entry does not decode cleanly. The file is gone from the folder at once and
// from the disk when the stream is released.
zorvik::rt::com_ptr<Engine::IInStream> DecodeEntry(Engine::IInArchive* handler, std::uint32_t index);

}  // namespace Zorvik::Impl
