// A reference to the open archive's engine handler, for one use by one operation. Engine
// handlers count references without atomics while several operations may use one at once, so
// the reference is taken and dropped under the archive's Lock.
#pragma once

#include "archive/Archive.h"
#include "engine/EngineInterfaces.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Impl {

class EngineReference {
public:
    // Raises E_ILLEGAL_METHOD_CALL when nothing is open.
    explicit EngineReference(Archive& archive);
    // The handler of the archive as state saw it; raises E_ILLEGAL_METHOD_CALL too when it was
    // closed or opened again since.
    EngineReference(Archive& archive, const Archive::Snapshot& state);
    EngineReference(const EngineReference&) = delete;
    EngineReference& operator=(const EngineReference&) = delete;
    ~EngineReference();

    Engine::IInArchive* get() const noexcept { return handler_.get(); }
    Engine::IInArchive* operator->() const noexcept { return handler_.get(); }

    // The handler as another of its interfaces, or null: valid while this reference lives. The
    // count the query adds is dropped again under the Lock, so that no reference is held
    // beyond this one.
    template <typename Interface>
    Interface* As() const {
        return static_cast<Interface*>(Query(Interface::iid));
    }

private:
    void* Query(const GUID& iid) const;

    Archive& archive_;
    zorvik::rt::com_ptr<Engine::IInArchive> handler_;
};

}  // namespace Zorvik::Impl
