// The base of every object the component hands out: implements<> plus the module's count of
// live objects, which DllCanUnloadNow answers from.
#pragma once

#include <atomic>

#include "zorvik/runtime/implements.h"

namespace Zorvik::Impl {

inline std::atomic<long>& LiveObjectCount() noexcept {
    static std::atomic<long> count{0};
    return count;
}

class ModuleReference {
public:
    ModuleReference() noexcept { ++LiveObjectCount(); }
    ModuleReference(const ModuleReference&) noexcept : ModuleReference() {}
    ModuleReference& operator=(const ModuleReference&) noexcept { return *this; }
    ~ModuleReference() { --LiveObjectCount(); }
};

template <typename Derived, typename... Interfaces>
class ComponentObject : public zorvik::rt::implements<Derived, Interfaces...> {
    ModuleReference moduleReference_;
};

}  // namespace Zorvik::Impl
