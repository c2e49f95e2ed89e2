// The archive's file lock, held by one extraction or update from a successful take to its end,
// even when a Close drops the archive's own reference meanwhile.
#pragma once

#include <memory>

#include "archive/FileLock.h"

namespace Zorvik {
class Archive;
}

namespace Zorvik::Impl {

class HeldFileLock {
public:
    // Raises kArchiveInUse when another operation holds the lock, the platform's reason when
    // the lock could not be made, E_ILLEGAL_METHOD_CALL when nothing is open.
    explicit HeldFileLock(Archive& archive);
    // The same for the file lock of a snapshot of the archive (Archive::Snapshot::FileLock).
    explicit HeldFileLock(std::shared_ptr<FileLock> lock);
    HeldFileLock(const HeldFileLock&) = delete;
    HeldFileLock& operator=(const HeldFileLock&) = delete;
    ~HeldFileLock();

private:
    std::shared_ptr<FileLock> held_;
};

}  // namespace Zorvik::Impl
