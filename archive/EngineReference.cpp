#include "archive/EngineReference.h"

#include <mutex>

#include "archive/Archive.h"

namespace Zorvik::Impl {

EngineReference::EngineReference(Archive& archive) : archive_(archive) {
    std::lock_guard lock(archive.Lock);
    if (!archive.InArchive) throw zorvik::rt::illegal_method_call_error();
    handler_ = archive.InArchive;
}

EngineReference::~EngineReference() {
    std::lock_guard lock(archive_.Lock);
    handler_ = nullptr;
}

}  // namespace Zorvik::Impl
