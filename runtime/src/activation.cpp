// Platform classes that applications and the component create by name.
#include "zorvik/runtime/activation.h"

#include "data_writer.h"
#include "memory_stream.h"

namespace zorvik::rt {
namespace {

struct activatable_class {
    std::wstring_view name;
    com_ptr<IInspectable> (*create)();
};

com_ptr<IInspectable> create_data_writer() { return make<data_writer>().as<IInspectable>(); }

constexpr activatable_class kClasses[] = {
    {L"Windows.Storage.Streams.DataWriter", create_data_writer},
    {L"Windows.Storage.Streams.InMemoryRandomAccessStream", create_in_memory_stream},
};

}  // namespace
}  // namespace zorvik::rt

HRESULT RoActivateInstance(HSTRING activatableClassId, IInspectable** instance) {
    if (!instance) return E_POINTER;
    *instance = nullptr;
    std::uint32_t length = 0;
    const wchar_t* text = WindowsGetStringRawBuffer(activatableClassId, &length);
    const std::wstring_view name(text, length);
    for (const auto& entry : zorvik::rt::kClasses)
        if (entry.name == name) return zorvik::rt::boundary([&] { *instance = entry.create().detach(); });
    return REGDB_E_CLASSNOTREG;
}
