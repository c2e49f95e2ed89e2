// What IArchive does not tell: the format whose handler opened the archive, and the format of
// data that no handler could open. The Archive runtime class implements this interface beside
// IArchive; callers ask for it with QueryInterface.
#pragma once

#include "Zorvik/Archive.h"

namespace Zorvik {

struct IArchiveFormatName : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IArchiveFormatName");
    static constexpr const char* name = "Zorvik.IArchiveFormatName";
    // The engine's name of the format (as ArchiveFormat.Name gives it), of the archive nested
    // inside when one was opened (the tar of a tar.gz); empty when nothing is open.
    virtual HRESULT get_FormatName(HSTRING* value) = 0;
    // After an open that failed, the format whose signature begins the file: the file is an
    // archive of that format, damaged or cut short. After an open that succeeded, the format
    // whose signature begins the archive's only entry (a split set's joined volumes, say) when
    // it could not be opened. Empty when there is none.
    virtual HRESULT get_DamagedFormatName(HSTRING* value) = 0;
};

}  // namespace Zorvik
