#include "module/Registration.h"

#include "archive/Archive.h"
#include "engine/ArchiveFormat.h"
#include "engine/ArchiveInfo.h"
#include "model/CompressionOptions.h"
#include "model/CompressorDescription.h"
#include "module/ActivationFactory.h"

namespace Zorvik::Impl {

namespace {
template <typename Class>
zorvik::rt::com_ptr<IActivationFactory> MakeFactory() {
    return zorvik::rt::make<ActivationFactory<Class>>();
}

// Rows join as their classes are built, in this order: Archive, Sorter, ArchiveInfo,
// CompressorDescription, ArchiveFormat, ArchiveEntryProperties, ArchiveFolder, ArchiveFile,
// CompressionOptions.
constexpr Registration kRegistrations[] = {
    {L"Zorvik.Archive", &MakeFactory<Zorvik::Archive>},
    {L"Zorvik.ArchiveInfo", &CreateArchiveInfoFactory},
    {L"Zorvik.CompressorDescription", &CreateCompressorDescriptionFactory},
    {L"Zorvik.ArchiveFormat", &MakeFactory<Zorvik::ArchiveFormat>},
    {L"Zorvik.CompressionOptions", &MakeFactory<Zorvik::CompressionOptions>},
};
}  // namespace

std::span<const Registration> RegisteredClasses() { return kRegistrations; }

}  // namespace Zorvik::Impl
