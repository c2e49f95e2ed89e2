// What IFileSystemProperties does not tell about an entry: its POSIX mode and where a link
// points. ArchiveEntryProperties implements this interface beside IFileSystemProperties;
// callers ask for it with QueryInterface.
#pragma once

#include "zorvik/Items.h"

namespace Zorvik {

struct IPosixEntryProperties : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IPosixEntryProperties");
    static constexpr const char* name = "Zorvik.IPosixEntryProperties";
    // Type and permission bits as st_mode holds them (0120777 for a symbolic link); 0 when the
    // archive records none (an archive made on Windows, say).
    virtual HRESULT get_Mode(std::uint32_t* value) = 0;
    // The target of a symbolic link as stored, with "/" between components; empty when the entry
    // is no link, and when the format keeps the target as the entry's data (7z, zip, RAR 4:
    // then Mode says S_IFLNK and the data is the target). Junctions read as symbolic links.
    virtual HRESULT get_SymbolicLinkTarget(HSTRING* value) = 0;
    // For a hard link, the path inside the archive of the entry it shares its data with; the
    // entry itself then has no data. Empty otherwise.
    virtual HRESULT get_HardLinkTarget(HSTRING* value) = 0;
};

}  // namespace Zorvik
