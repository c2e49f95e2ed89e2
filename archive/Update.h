// The writing operations of an Archive: each builds its plan (UpdatePlan.h), checks it against
// the archive's tree and itself with the caller (ConflictCheck.h), and runs the engine's UpdateItems into the caller's
// destination under the archive's file lock. The open archive is read, never changed.
#pragma once

#include <string_view>
#include <utility>
#include <vector>

#include "zorvik/Update.h"
#include "zorvik/runtime/async.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik {
class Archive;
}

namespace Zorvik::Impl {

// Where an update writes the new archive: all into stream, or, with a volume size, in volumes of
// that size, the first into stream and the others asked of the callback's IUpdateVolumeProvider.
struct UpdateDestination {
    zorvik::rt::com_ptr<IRandomAccessStream> stream;
    std::uint64_t volumeSize = 0;  // 0: one stream
};

// The bodies of UpdateAsync (RemoveAsync and AddAsync with one list empty), RenameAsync,
// MoveAsync and EditAsync, run on the operation's thread, with a callback and a destination.
// Failure when nothing is open or the format cannot write, told with its reason to the
// callback's IUpdateFailureReport where it has one. Raised: E_INVALIDARG for an item (or target)
// that is not of the tree the archive shows now; kWrongPassword for new data beside encrypted
// entries without their password (the caller is asked once, the answer proven on one of
// them); kArchiveInUse when another operation holds the file lock. A cancel answer, a blocked
// path or a cancel of the operation ends them as cancelled (E_ABORT). Each reads the archive's
// state once, at its start (Archive::State); an archive closed or opened again before the engine
// run raises E_ILLEGAL_METHOD_CALL.
UpdateResult Update(Archive& archive, const std::vector<zorvik::rt::com_ptr<IArchiveItem>>& remove,
                    const std::vector<zorvik::rt::com_ptr<IArchiveAddable>>& add, const zorvik::rt::com_ptr<IUpdateCallback>& callback,
                    const UpdateDestination& destination, const zorvik::rt::cancellation_token& cancellation);
UpdateResult Rename(Archive& archive, const zorvik::rt::com_ptr<IArchiveItem>& item, std::wstring_view newName,
                    const zorvik::rt::com_ptr<IUpdateCallback>& callback, const zorvik::rt::com_ptr<IRandomAccessStream>& destination,
                    const zorvik::rt::cancellation_token& cancellation);
// The changes of one IArchiveEdit pass; a null target of a move is the root folder.
struct Edits {
    std::vector<zorvik::rt::com_ptr<IArchiveItem>> remove;
    std::vector<std::pair<zorvik::rt::com_ptr<IArchiveItem>, std::wstring>> rename;
    std::vector<std::pair<zorvik::rt::com_ptr<IArchiveItem>, zorvik::rt::com_ptr<IArchiveFolder>>> move;
    std::vector<zorvik::rt::com_ptr<IArchiveAddable>> add;
};
UpdateResult Edit(Archive& archive, const Edits& edits, const zorvik::rt::com_ptr<IUpdateCallback>& callback,
                  const zorvik::rt::com_ptr<IRandomAccessStream>& destination, const zorvik::rt::cancellation_token& cancellation);
// A null target is the archive's root folder.
UpdateResult Move(Archive& archive, const std::vector<zorvik::rt::com_ptr<IArchiveItem>>& items, zorvik::rt::com_ptr<IArchiveFolder> target,
                  const zorvik::rt::com_ptr<IUpdateCallback>& callback, const zorvik::rt::com_ptr<IRandomAccessStream>& destination,
                  const zorvik::rt::cancellation_token& cancellation);

}  // namespace Zorvik::Impl
