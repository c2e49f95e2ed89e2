// What IArchive does not tell about the last open: the format whose handler opened the archive,
// the format of data that no handler could open, headers that failed their checks, and an end
// that came too early. The Archive runtime class implements this interface beside IArchive;
// callers ask for it with QueryInterface.
#pragma once

#include "zorvik/Archive.h"

namespace Zorvik {

struct IOpenedArchiveInfo : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IOpenedArchiveInfo");
    static constexpr const char* name = "Zorvik.IOpenedArchiveInfo";
    // The engine's name of the format (as ArchiveFormat.Name gives it), of the archive nested
    // inside when one was opened (the tar of a tar.gz); empty when nothing is open.
    virtual HRESULT get_FormatName(HSTRING* value) = 0;
    // After an open that failed, the format whose signature begins the file: the file is an
    // archive of that format, damaged or cut short. After an open that succeeded, the format
    // whose signature begins the archive's only entry (a split set's joined volumes, say) when
    // it could not be opened. Empty when there is none.
    virtual HRESULT get_DamagedFormatName(HSTRING* value) = 0;
    // The archive opened, but some of its headers failed their checksums and were used as read.
    virtual HRESULT get_HasDamagedHeaders(bool* value) = 0;
    // The archive opened, but it ends in the middle of an entry or of its headers: what lay
    // past the end is missing.
    virtual HRESULT get_IsCutShort(bool* value) = 0;
};

}  // namespace Zorvik
