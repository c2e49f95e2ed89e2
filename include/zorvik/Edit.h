// Several changes to an archive written in one pass, and why an update failed. The Archive
// runtime class implements IArchiveEdit beside IArchive; callers ask for it with QueryInterface.
#pragma once

#include "zorvik/Update.h"

namespace Zorvik {

// Every item names an entry of the tree the archive shows now, and each entry is changed by one
// of the lists at most (an entry both renamed and moved, say, fails with E_INVALIDARG). New
// items are placed in the tree as it stands after the removals, renames and moves; the conflict
// check sees that tree and every new path at once, and is asked as for AddAsync. Empty lists
// are allowed; all of them empty is NothingToUpdate.
struct IArchiveEdit : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IArchiveEdit");
    static constexpr const char* name = "Zorvik.IArchiveEdit";
    // renamed[i] takes the name newNames[i] in its folder; moved[i] goes into targets[i] (null:
    // the root folder).
    virtual HRESULT EditAsync(std::uint32_t removeCount, IArchiveItem** remove, std::uint32_t renameCount, IArchiveItem** renamed,
                              HSTRING* newNames, std::uint32_t moveCount, IArchiveItem** moved, IArchiveFolder** targets,
                              std::uint32_t addCount, IArchiveAddable** add, IUpdateCallback* callback, IRandomAccessStream* destination,
                              IAsyncOperation<UpdateResult>** operation) = 0;
};

// Optional on an IUpdateCallback: told once, before the operation completes with
// UpdateResult::Failure, why it failed. reason is an HRESULT (E_NOTIMPL: the format cannot
// write; E_INVALIDARG: nothing to rename; ERROR_ALREADY_EXISTS: a conflict that was not
// resolved; the engine's own code otherwise); message says it in words, naming the entry where
// there is one.
struct IUpdateFailureReport : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IUpdateFailureReport");
    static constexpr const char* name = "Zorvik.IUpdateFailureReport";
    virtual HRESULT ReportFailure(HRESULT reason, HSTRING message) = 0;
};

}  // namespace Zorvik
