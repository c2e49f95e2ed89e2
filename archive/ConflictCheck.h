// The check every update runs before anything is written: each plan item's path against the
// archive's tree and against the items before it in the plan, with the caller asked about
// clashes. Paths compare as the tree splits them ("/" between components, leading ones
// dropped), name for name, exactly.
//
// Against the tree: a clash is asked of the caller (ResolveConflict), a folder over a folder
// replaces the old folder entry, a file where a folder is needed is PathBlocked.
// Against the plan itself:
// - Two added items with one path, or an added file where another added item needs a folder:
//   the caller's own arguments contradict each other, and E_INVALIDARG is raised.
// - Two folders of one path: the later is dropped (its entry, if any, is not written again);
//   what they hold comes together.
// - Two entries of the archive moved to one path (x/f.txt and y/f.txt into z), or an added
//   item where an entry is moved: the caller is asked, the earlier one standing as the
//   existing item; replacing drops it from the new archive. Entries that already shared a
//   path in the archive keep doing so.
// - A name picked for an answer "add under another name" is free in the tree, in the plan so
//   far and among the paths of the items still to come.
// - Entries in vacating (those an edit renames or moves) are gone from their old paths while the
//   check runs; one whose item is skipped stays where it was, and its old path is taken again.
#pragma once

#include "archive/UpdatePlan.h"

namespace Zorvik::Impl {

// Rewrites the plan and may add to removal. Returns the path of an item whose name index ran
// out, or nothing when the plan is checked. A blocked path or a cancel answer ends the
// operation as cancelled, and so does a cancel of it.
std::optional<std::wstring> CheckConflicts(IArchiveFolder* root, UpdatePlan& plan, RemovalSet& removal, IUpdateCallback& callback,
                                           const zorvik::rt::cancellation_token& cancellation, const RemovalSet& vacating = {});

}  // namespace Zorvik::Impl
