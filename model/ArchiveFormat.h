// The ArchiveFormat runtime class: one engine format as callers see it.
#pragma once

#include <memory>

#include "base/ComponentObject.h"
#include "model/FormatRecord.h"
#include "zorvik/Formats.h"

namespace Zorvik {

class ArchiveFormat final : public Impl::ComponentObject<ArchiveFormat, IArchiveFormat> {
public:
    static constexpr const char* runtime_class_name = "Zorvik.ArchiveFormat";
    static constexpr const char* FactoryName = "Zorvik.__ArchiveFormatActivationFactory";

    explicit ArchiveFormat(const Impl::FormatRecord& record);

    const Impl::FormatRecord& Record() const noexcept { return *record_; }

    HRESULT get_Name(HSTRING* value) override;
    HRESULT get_DefaultExtension(HSTRING* value) override;
    HRESULT get_CanUpdate(bool* value) override;
    HRESULT get_KeepsName(bool* value) override;
    HRESULT HasExtension(HSTRING extension, bool* result) override;

private:
    const std::unique_ptr<const Impl::FormatRecord> record_;
};

namespace Impl {
// The class's factory; ActivateInstance fails with E_NOTIMPL.
zorvik::rt::com_ptr<IActivationFactory> CreateArchiveFormatFactory();
}  // namespace Impl

}  // namespace Zorvik
