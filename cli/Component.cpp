#include "cli/Component.h"

#include "cli/ExitCode.h"
#include "cli/Failure.h"
#include "zorvik/Activation.h"

namespace Zorvik::Cli {

using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;
using zorvik::rt::hstring;

namespace {

std::string Utf8(const hstring& text) { return zorvik::rt::to_utf8(text.view()); }

}  // namespace

com_ptr<IArchive> NewArchive() {
    try {
        return ActivateInstance<IArchive>(L"Zorvik.Archive");
    } catch (const zorvik::rt::hresult_error& error) {
        throw CommandError(ExitCode::Failed, "component", "cannot start the archive engine: " + Describe(error.code()));
    }
}

com_ptr<__IArchiveInfoStatics> ArchiveInfoStatics() { return GetActivationFactory<__IArchiveInfoStatics>(L"Zorvik.ArchiveInfo"); }

std::vector<FormatInfo> Formats() {
    const auto statics = ArchiveInfoStatics();
    com_ptr<ABI::Windows::Foundation::Collections::IVector<IArchiveFormat*>> formats;
    check_hresult(statics->get_Formats(formats.put()));
    std::uint32_t count = 0;
    check_hresult(formats->get_Size(&count));
    std::vector<FormatInfo> result;
    for (std::uint32_t i = 0; i < count; ++i) {
        FormatInfo info;
        check_hresult(formats->GetAt(i, info.format.put()));
        hstring name, extension;
        check_hresult(info.format->get_Name(name.put()));
        check_hresult(info.format->get_DefaultExtension(extension.put()));
        check_hresult(info.format->get_CanUpdate(&info.canUpdate));
        check_hresult(info.format->get_KeepsName(&info.keepsName));
        info.name = Utf8(name);
        // The public interface names only the first extension of a format.
        if (!extension.empty()) info.extensions.push_back(Utf8(extension));
        result.push_back(std::move(info));
    }
    return result;
}

}  // namespace Zorvik::Cli
