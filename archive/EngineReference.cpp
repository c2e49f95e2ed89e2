#include "archive/EngineReference.h"

#include <mutex>

#include "archive/Archive.h"

namespace Zorvik::Impl {

EngineReference::EngineReference(Archive& archive) : archive_(archive) {
    std::lock_guard lock(archive.Lock);
    if (!archive.InArchive) throw zorvik::rt::illegal_method_call_error();
    handler_ = archive.InArchive;
}

EngineReference::EngineReference(Archive& archive, const Archive::Snapshot& state) : archive_(archive) {
    std::lock_guard lock(archive.Lock);
    if (!archive.InArchive || !state.FileLock || archive.FileLock != state.FileLock) throw zorvik::rt::illegal_method_call_error();
    handler_ = archive.InArchive;
}

void* EngineReference::Query(const GUID& iid) const {
    std::lock_guard lock(archive_.Lock);
    void* other = nullptr;
    if (FAILED(handler_->QueryInterface(iid, &other)) || !other) return nullptr;
    static_cast<IUnknown*>(other)->Release();
    return other;
}

EngineReference::~EngineReference() {
    std::lock_guard lock(archive_.Lock);
    handler_ = nullptr;
}

}  // namespace Zorvik::Impl
