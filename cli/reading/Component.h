// Reaching the component as any application does: its Archive class and the statics listing
// the engine's formats.
#pragma once

#include <string>
#include <vector>

#include "zorvik/Archive.h"
#include "zorvik/Zorvik.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Cli {

using FormatInfo = zorvik::Format;

zorvik::rt::com_ptr<IArchive> NewArchive();
// Every engine format, in probing order; a failure ends the command.
std::vector<FormatInfo> Formats();

}  // namespace Zorvik::Cli
