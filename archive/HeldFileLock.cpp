#include "archive/HeldFileLock.h"

#include <mutex>

#include "archive/Archive.h"
#include "archive/EngineOutcome.h"

namespace Zorvik::Impl {

namespace {

std::shared_ptr<FileLock> LockOf(Archive& archive) {
    std::lock_guard lock(archive.Lock);
    return archive.FileLock;
}

}  // namespace

HeldFileLock::HeldFileLock(Archive& archive) : HeldFileLock(LockOf(archive)) {}

HeldFileLock::HeldFileLock(std::shared_ptr<FileLock> lock) : held_(std::move(lock)) {
    if (!held_) throw zorvik::rt::illegal_method_call_error();
    // A lock that could not be made is no other operation's: its reason says more than "busy".
    if (!held_->TryAcquire()) zorvik::rt::throw_hresult(FAILED(held_->Failure()) ? held_->Failure() : kArchiveInUse);
}

HeldFileLock::~HeldFileLock() { held_->Release(); }

}  // namespace Zorvik::Impl
