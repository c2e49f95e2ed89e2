// Reaching the component as any application does: its activation factories, the Archive
// class and the statics listing the engine's formats.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "zorvik/Archive.h"
#include "zorvik/Formats.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Cli {

struct FormatInfo {
    std::string name;
    std::vector<std::string> extensions;
    bool canUpdate = false;
    bool keepsName = false;
    zorvik::rt::com_ptr<IArchiveFormat> format;
};

zorvik::rt::com_ptr<IArchive> NewArchive();
// The statics of ArchiveInfo: its activation factory, which also tells the versions.
zorvik::rt::com_ptr<__IArchiveInfoStatics> ArchiveInfoStatics();
// Every engine format, in probing order.
std::vector<FormatInfo> Formats();

}  // namespace Zorvik::Cli
