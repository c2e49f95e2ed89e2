#include "module/Registration.h"

#include "archive/Archive.h"
#include "base/ActivationFactory.h"
#include "model/ArchiveEntryProperties.h"
#include "model/ArchiveFile.h"
#include "model/ArchiveFolder.h"
#include "model/ArchiveFormat.h"
#include "model/ArchiveInfoFactory.h"
#include "model/CompressionOptions.h"
#include "model/CompressorDescription.h"
#include "model/Sorter.h"

namespace Zorvik::Impl {

namespace {
template <typename Class>
zorvik::rt::com_ptr<IActivationFactory> MakeFactory() {
    return zorvik::rt::make<ActivationFactory<Class>>();
}

constexpr Registration kRegistrations[] = {
    {L"Zorvik.Archive", &MakeFactory<Zorvik::Archive>},
    {L"Zorvik.Sorter", &MakeFactory<Zorvik::Sorter>},
    {L"Zorvik.ArchiveInfo", &CreateArchiveInfoFactory},
    {L"Zorvik.CompressorDescription", &CreateCompressorDescriptionFactory},
    {L"Zorvik.ArchiveFormat", &MakeFactory<Zorvik::ArchiveFormat>},
    {L"Zorvik.ArchiveEntryProperties", &MakeFactory<Zorvik::ArchiveEntryProperties>},
    {L"Zorvik.ArchiveFolder", &MakeFactory<Zorvik::ArchiveFolder>},
    {L"Zorvik.ArchiveFile", &MakeFactory<Zorvik::ArchiveFile>},
    {L"Zorvik.CompressionOptions", &MakeFactory<Zorvik::CompressionOptions>},
};
}  // namespace

std::span<const Registration> RegisteredClasses() { return kRegistrations; }

}  // namespace Zorvik::Impl
