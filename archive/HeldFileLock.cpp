#include "archive/HeldFileLock.h"

#include <mutex>

#include "archive/Archive.h"
#include "archive/EngineOutcome.h"

namespace Zorvik::Impl {

HeldFileLock::HeldFileLock(Archive& archive) {
    {
        std::lock_guard lock(archive.Lock);
        held_ = archive.FileLock;
    }
    if (!held_) throw zorvik::rt::illegal_method_call_error();
    if (!held_->TryAcquire()) zorvik::rt::throw_hresult(kArchiveInUse);
}

HeldFileLock::~HeldFileLock() { held_->Release(); }

}  // namespace Zorvik::Impl
