// Where an entry stands in its archive. ArchiveEntryProperties implements this interface beside
// IFileSystemProperties; callers ask for it with QueryInterface.
#pragma once

#include "zorvik/Items.h"

namespace Zorvik {

struct IArchiveEntryIndex : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IArchiveEntryIndex");
    static constexpr const char* name = "Zorvik.IArchiveEntryIndex";
    // The entry's number in the archive, from 0: an extraction on one thread meets entries in
    // ascending order of it, so that a caller extracting on several can tell them in that order.
    virtual HRESULT get_Index(std::uint32_t* value) = 0;
};

}  // namespace Zorvik
