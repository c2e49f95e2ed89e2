// What IArchive does not tell: the format whose handler opened the archive. The Archive runtime
// class implements this interface beside IArchive; callers ask for it with QueryInterface.
#pragma once

#include "Zorvik/Archive.h"

namespace Zorvik {

struct IArchiveFormatName : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IArchiveFormatName");
    static constexpr const char* name = "Zorvik.IArchiveFormatName";
    // The engine's name of the format (as ArchiveFormat.Name gives it), of the archive nested
    // inside when one was opened (the tar of a tar.gz); empty when nothing is open.
    virtual HRESULT get_FormatName(HSTRING* value) = 0;
};

}  // namespace Zorvik
