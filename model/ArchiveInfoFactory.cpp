#include "model/ArchiveInfoFactory.h"

#include "model/AbiValues.h"
#include "model/ArchiveFormat.h"
#include "model/FormatRecord.h"
#include "zorvik/Version.h"
#include "zorvik/runtime/collections.h"

namespace Zorvik::Impl {

HRESULT ArchiveInfoFactory::ActivateInstance(IInspectable** instance) {
    if (!instance) return E_POINTER;
    *instance = nullptr;
    return E_NOTIMPL;
}

HRESULT ArchiveInfoFactory::get_Formats(ABI::Windows::Foundation::Collections::IVector<IArchiveFormat*>** formats) {
    if (!formats) return E_POINTER;
    *formats = nullptr;
    return zorvik::rt::boundary([&] {
        const FormatList list = BuildFormatList(Engine::EngineModule::Get());
        std::vector<zorvik::rt::com_ptr<IArchiveFormat>> items;
        items.reserve(list.size());
        for (const FormatRecord& record : list) items.emplace_back(zorvik::rt::make<ArchiveFormat>(record));
        *formats = zorvik::rt::make_vector<IArchiveFormat*>(std::move(items)).detach();
    });
}

HRESULT ArchiveInfoFactory::get_ComponentVersion(HSTRING* value) { return GiveString(L"" ZORVIK_VERSION, value); }

HRESULT ArchiveInfoFactory::get_EngineVersion(HSTRING* value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    return zorvik::rt::boundary([&] { zorvik::rt::check_hresult(GiveString(Engine::EngineModule::Get().Version(), value)); });
}

zorvik::rt::com_ptr<IActivationFactory> CreateArchiveInfoFactory() { return zorvik::rt::make<ArchiveInfoFactory>(); }

}  // namespace Zorvik::Impl
