// Builds an Archive's item tree from the flat list of entries its handler reports.
#pragma once

#include <string>
#include <vector>

#include "Zorvik/Archive.h"
#include "Zorvik/Items.h"
#include "engine/EngineInterfaces.h"
#include "zorvik/runtime/async.h"

namespace Zorvik {
class Archive;
class ArchiveFolder;
}  // namespace Zorvik

namespace Zorvik::Impl {

// The body of GetRootFolderAsync: the tree already built (waiting for a build in progress), or
// a new one stored in the Archive's RootFolder before its entries are added, so that a cancel
// or a failure leaves the part built so far. Raises E_ILLEGAL_METHOD_CALL when nothing is open.
zorvik::rt::com_ptr<IArchiveFolder> GetRootFolder(Archive& archive, IOperationProgress* progress,
                                                  const zorvik::rt::cancellation_token& cancellation);

class TreeBuilder {
public:
    // handler is the archive's, held by the caller for the builder's lifetime.
    TreeBuilder(Archive& archive, Engine::IInArchive* handler, ArchiveFolder& root, zorvik::rt::com_ptr<IOperationProgress> progress);

    // Adds the entries in handler order, reporting each index handled.
    void AddEntries(std::uint32_t count, const zorvik::rt::cancellation_token& cancellation);

private:
    // False when the entry has no path and cannot take the archive's name.
    bool AddEntry(std::uint32_t index);

    Archive& archive_;
    Engine::IInArchive* handler_;
    ArchiveFolder& root_;
    zorvik::rt::com_ptr<IOperationProgress> progress_;
    std::vector<std::wstring_view> components_;  // reused for every path
    // The folder of the previous entry and the path text that led to it; folders are never
    // removed while the tree is built.
    std::wstring lastFolderPath_;
    ArchiveFolder* lastParent_ = nullptr;
};

}  // namespace Zorvik::Impl
