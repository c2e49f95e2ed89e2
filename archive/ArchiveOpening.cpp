// Opening an Archive: probing the caller's stream for a format that opens it, the one look for
// an archive inside it, and what the open leaves in the Archive's state; and creating a new,
// empty archive of the format that the file type names.
#include "archive/Archive.h"

#include <algorithm>

#include "archive/DecodedEntry.h"
#include "archive/EntryNaming.h"
#include "archive/FormatProbe.h"
#include "engine/EngineModule.h"
#include "engine/InputStreamAdapter.h"
#include "engine/OpenArchiveHandler.h"
#include "zorvik/runtime/oleauto.h"

namespace Zorvik {

using zorvik::rt::com_ptr;

namespace {

// Whether the format is a compressor of one stream: one that names what it holds after the
// archive (gzip, xz), or whose own extensions stand for a compressed tar (Z's "taz", which the
// engine does not flag as keeping the name).
bool WrapsOneStream(const Impl::FormatRecord& format) {
    return format.KeepsName || std::any_of(format.Extensions.begin(), format.Extensions.end(),
                                           [](const Impl::FormatExtension& pair) { return pair.AddExtension == L".tar"; });
}

// The archive inside an opened one, looked for once: the entry the handler names as its main
// sub-file, or the only entry of a single-stream compressed file (a tar in a gzip). subArchiveName
// receives the name the step gave that entry; damagedFormat names the format of an archive
// found inside that did not open.
std::optional<Impl::OpenedArchive> OpenNested(const Impl::FormatList& formats, const Impl::OpenedArchive& outer,
                                              std::wstring_view archiveName, Impl::OpenArchiveHandler& handler, IArchiveSource* source,
                                              std::uint64_t archiveSize, std::wstring& subArchiveName, std::wstring& damagedFormat,
                                              std::recursive_mutex& archiveLock) {
    Engine::IInArchive* archive = outer.Handler.get();
    const bool oneStream = WrapsOneStream(outer.Format);
    zorvik::rt::prop_variant mainSubfile;
    std::uint32_t index = 0;
    if (archive->GetArchiveProperty(Engine::kpidMainSubfile, mainSubfile.put()) == S_OK && mainSubfile.type() == VT_UI4)
        index = mainSubfile.get().ulVal;
    else if (!oneStream)
        return std::nullopt;  // an ordinary archive's first entry is content, not its body
    std::uint32_t itemCount = 0;
    if (archive->GetNumberOfItems(&itemCount) != S_OK || index >= itemCount) return std::nullopt;

    zorvik::rt::prop_variant path;
    archive->GetProperty(index, Engine::kpidPath, path.put());
    std::wstring name(path.as_string().value_or(L""));
    if (name.empty() && oneStream) name = Impl::NameForNamelessEntry(archiveName, &outer.Format);
    handler.SetSubArchiveName(name.c_str());
    subArchiveName = name;

    com_ptr<Engine::IInStream> stream;
    com_ptr<Engine::ISequentialInStream> entry;
    // The outer handler is the archive's already: a tree may be read from it meanwhile, and the
    // engine's handlers take one call at a time.
    if (auto getStream = outer.Handler.try_as<Engine::IInArchiveGetStream>()) {
        std::lock_guard lock(archiveLock);
        if (getStream->GetStream(index, entry.put()) == S_OK && entry) stream = entry.try_as<Engine::IInStream>();
    }
    if (!stream) {
        // Handlers that cannot lend a seekable entry stream: decode the entry, but only when its
        // name says it is an archive, or when the archive's own name says nothing (data read
        // from a pipe), so that opening a plain compressed file stays cheap.
        const std::wstring extension = handler.ArchiveExtension();
        zorvik::rt::hstring archiveType;
        zorvik::rt::check_hresult(source->get_FileType(archiveType.put()));
        const bool namesFormat = !extension.empty() && std::any_of(formats.begin(), formats.end(), [&](const Impl::FormatRecord& format) {
            return Impl::HasExtension(format, extension);
        });
        if (!(namesFormat || archiveType.empty())) return std::nullopt;
        std::lock_guard lock(archiveLock);
        if (!(stream = Impl::DecodeEntry(archive, index))) return std::nullopt;
    }
    auto nested = Impl::ProbeFormats(formats, stream.get(), handler, source, archiveSize);
    if (!nested) damagedFormat = Impl::FormatAtStart(formats, stream.get());
    return nested;
}
// What the handler says went wrong in the open (kpidErrorFlags) or did not stop it
// (kpidWarningFlags).
std::uint64_t OpenFlags(Engine::IInArchive* handler, Engine::PROPID which) {
    zorvik::rt::prop_variant value;
    return handler->GetArchiveProperty(which, value.put()) == S_OK ? value.as_uint64().value_or(0) : 0;
}

}  // namespace

void Archive::AdoptFormat(const Impl::FormatRecord& format) {
    com_ptr<ICompressionOptions> options;
    if (format.Compressor) zorvik::rt::check_hresult(format.Compressor->get_DefaultOptions(options.put()));
    std::lock_guard lock(Lock);
    Format = std::make_unique<Impl::FormatRecord>(format);
    Options = std::move(options);
}

bool Archive::Open(IRandomAccessStream* stream, IArchiveSource* source) {
    using namespace Impl;
    CloseArchive();
    auto adapter = zorvik::rt::make<InputStreamAdapter>(com_ptr<IRandomAccessStream>::copy_from(stream));
    auto handler = zorvik::rt::make<OpenArchiveHandler>(adapter, com_ptr<IArchiveSource>::copy_from(source));
    // Attempts restart the packed size from the archive stream itself, whatever volume
    // an earlier attempt fetched last.
    const std::uint64_t archiveSize = adapter->Size();
    const FormatList formats = BuildFormatList(Engine::EngineModule::Get());
    auto opened = ProbeFormats(formats, adapter.get(), *handler, source, archiveSize);
    if (!opened) {
        std::wstring damaged = FormatAtStart(formats, adapter.get());
        std::lock_guard lock(Lock);
        DamagedFormat = std::move(damaged);
        return false;
    }

    AdoptFormat(opened->Format);
    zorvik::rt::hstring name;
    zorvik::rt::check_hresult(source->get_Name(name.put()));
    {
        std::lock_guard lock(Lock);
        InArchive = opened->Handler;
        ArchiveName = name.view();
    }

    // Volumes come only with the outer archive; the nested step must not change the sum.
    const std::uint64_t packedSize = handler->TotalSize();
    auto origin = std::make_shared<ArchiveOrigin>();
    origin->Stream = com_ptr<IRandomAccessStream>::copy_from(stream);
    origin->Volumes = handler->GivenVolumes();
    origin->ClassId = opened->Format.ClassId;
    origin->Name = name.view();
    origin->Password = handler->CachedPassword();
    if (opened->Handler->GetNumberOfItems(&origin->ItemCount) != S_OK) origin = nullptr;
    std::wstring damagedNested, subArchiveName;
    if (auto nested = OpenNested(formats, *opened, name.view(), *handler, source, archiveSize, subArchiveName, damagedNested, Lock)) {
        AdoptFormat(nested->Format);
        std::lock_guard lock(Lock);
        InArchive = nested->Handler;
        IsNested = true;
        origin = nullptr;  // its handler opened a stream of the outer one, not the caller's
        NestedInName = std::move(subArchiveName);
        DropRootFolder();  // one built meanwhile shows the outer handler's entries
    }

    zorvik::rt::hstring path;
    zorvik::rt::check_hresult(source->get_Path(path.put()));
    auto fileLock = std::make_shared<Impl::FileLock>(path.view());
    std::lock_guard lock(Lock);
    PackedSize = packedSize;
    DamagedFormat = std::move(damagedNested);
    // Of the handler that opened the file and of the one of the archive nested in it.
    const auto flags = [&](Engine::PROPID which) { return OpenFlags(opened->Handler.get(), which) | OpenFlags(InArchive.get(), which); };
    const std::uint64_t errors = flags(Engine::kpidErrorFlags);
    HasDamagedHeaders = ((errors | flags(Engine::kpidWarningFlags)) & Engine::kErrorFlagsHeadersError) != 0;
    IsCutShort = (errors & Engine::kErrorFlagsUnexpectedEnd) != 0;
    IsMultiVolume = handler->VolumeRequested();
    Password = handler->CachedPassword();
    FileLock = std::move(fileLock);
    Origin = std::move(origin);
    KeepHeaderEncryption();
    return true;
}

void Archive::KeepHeaderEncryption() {
    // A format that can hide its names asks for the password while opening only when they are
    // hidden: an update writes them so again, unless the caller's options say otherwise.
    if (!Password || !Options || !Format || !Format->Compressor) return;
    bool hidesNames = false;
    zorvik::rt::check_hresult(Format->Compressor->get_SupportsHeaderEncryption(&hidesNames));
    if (!hidesNames) return;
    zorvik::rt::check_hresult(Options->put_UseEncryption(true));
    zorvik::rt::check_hresult(Options->put_EncryptHeaders(true));
}

bool Archive::Create(IArchiveSource* source) {
    using namespace Impl;
    CloseArchive();
    zorvik::rt::hstring fileType, path;
    zorvik::rt::check_hresult(source->get_FileType(fileType.put()));
    zorvik::rt::check_hresult(source->get_Path(path.put()));
    if (fileType.empty()) return false;
    const FormatList formats = BuildFormatList(Engine::EngineModule::Get());
    const auto format = std::find_if(formats.begin(), formats.end(),
                                     [&](const FormatRecord& candidate) { return HasExtension(candidate, fileType.view()); });
    if (format == formats.end()) return false;
    com_ptr<Engine::IOutArchive> writer;
    if (FAILED(Engine::EngineModule::Get().CreateObject(&format->ClassId, &Engine::IOutArchive::iid, writer.put_void())) || !writer)
        return false;
    auto handler = writer.try_as<Engine::IInArchive>();
    if (!handler) return false;

    auto fileLock = std::make_shared<Impl::FileLock>(path.view());
    std::lock_guard lock(Lock);
    AdoptFormat(*format);
    InArchive = std::move(handler);
    FileLock = std::move(fileLock);
    IsNew = true;
    // Nothing of an archive opened before on this object carries over to the new one.
    Password.reset();
    IsMultiVolume = false;
    return true;
}

}  // namespace Zorvik
