// An archive's item tree, built once from its open handler.
#pragma once

#include "zorvik/Archive.h"
#include "zorvik/runtime/async.h"

namespace Zorvik {
class Archive;
}  // namespace Zorvik

namespace Zorvik::Impl {

// The body of GetRootFolderAsync: the tree already built (waiting for a build in progress), or
// a new one stored in the Archive's RootFolder before its entries are added, so that a cancel
// or a failure leaves the part built so far. Raises E_ILLEGAL_METHOD_CALL when nothing is open.
zorvik::rt::com_ptr<IArchiveFolder> GetRootFolder(Archive& archive, IOperationProgress* progress,
                                                  const zorvik::rt::cancellation_token& cancellation);

}  // namespace Zorvik::Impl
