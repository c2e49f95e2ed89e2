#include "model/ArchiveFormat.h"

#include <algorithm>

#include "base/ActivationFactory.h"

namespace Zorvik {

using zorvik::rt::boundary;
using zorvik::rt::check_pointer;
using zorvik::rt::hstring;

ArchiveFormat::ArchiveFormat(const Impl::FormatRecord& record) : record_(std::make_unique<const Impl::FormatRecord>(record)) {}

HRESULT ArchiveFormat::get_Name(HSTRING* value) {
    return boundary([&] {
        check_pointer(value);
        *value = hstring(record_->Name).detach();
    });
}

HRESULT ArchiveFormat::get_DefaultExtension(HSTRING* value) {
    return boundary([&] {
        check_pointer(value);
        const auto& extensions = record_->Extensions;
        *value = extensions.empty() ? nullptr : hstring(extensions.front().Extension).detach();
    });
}

HRESULT ArchiveFormat::get_CanUpdate(bool* value) {
    return boundary([&] {
        check_pointer(value);
        *value = record_->CanUpdate;
    });
}

HRESULT ArchiveFormat::get_KeepsName(bool* value) {
    return boundary([&] {
        check_pointer(value);
        *value = record_->KeepsName;
    });
}

HRESULT ArchiveFormat::HasExtension(HSTRING extension, bool* result) {
    return boundary([&] {
        check_pointer(result);
        std::uint32_t length = 0;
        const wchar_t* text = WindowsGetStringRawBuffer(extension, &length);
        const std::wstring_view wanted(text, length);
        const auto& extensions = record_->Extensions;
        *result = std::any_of(extensions.begin(), extensions.end(),
                              [&](const Impl::FormatExtension& pair) { return Impl::NamesEqual(pair.Extension, wanted); });
    });
}

namespace Impl {
zorvik::rt::com_ptr<IActivationFactory> CreateArchiveFormatFactory() { return zorvik::rt::make<ActivationFactory<ArchiveFormat>>(); }
}  // namespace Impl

}  // namespace Zorvik
