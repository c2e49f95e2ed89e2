#include "archive/Archive.h"

#include <sched.h>

#include <algorithm>
#include <thread>

#include "archive/Extraction.h"
#include "archive/RootFolder.h"
#include "archive/Update.h"
#include "base/OutParameters.h"
#include "engine/EngineModule.h"
#include "engine/InOutTempBuffer.h"
#include "model/ArchiveFolder.h"
#include "zorvik/runtime/async.h"
#include "zorvik/runtime/oleauto.h"

namespace Zorvik {

using zorvik::rt::com_ptr;

using Impl::CheckOut;

namespace {

// What every writing operation runs with.
struct UpdateArguments {
    Archive& archive;
    const com_ptr<IUpdateCallback>& callback;
    const com_ptr<IRandomAccessStream>& destination;
    const zorvik::rt::cancellation_token& cancellation;
};

// Starts a writing operation on the pool; body takes the UpdateArguments and yields the result.
template <typename Body>
void StartUpdate(Archive& archive, IUpdateCallback* callback, IRandomAccessStream* destination, IAsyncOperation<UpdateResult>** operation,
                 Body body) {
    CheckOut(operation);
    if (!callback || !destination) zorvik::rt::throw_hresult(E_INVALIDARG);
    *operation = zorvik::rt::run_async<UpdateResult>([self = com_ptr<Archive>::copy_from(&archive),
                                                      callbackRef = com_ptr<IUpdateCallback>::copy_from(callback),
                                                      destinationRef = com_ptr<IRandomAccessStream>::copy_from(destination),
                                                      body = std::move(body)](const zorvik::rt::cancellation_token& cancellation) mutable {
                     return body(UpdateArguments{*self, callbackRef, destinationRef, cancellation});
                 }).detach();
}

// A caller's array as the operation's own list; a null element is refused.
template <typename I>
std::vector<com_ptr<I>> ListOf(std::uint32_t count, I** items) {
    if (count != 0 && !items) zorvik::rt::throw_hresult(E_INVALIDARG);
    std::vector<com_ptr<I>> list;
    list.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!items[i]) zorvik::rt::throw_hresult(E_INVALIDARG);
        list.push_back(com_ptr<I>::copy_from(items[i]));
    }
    return list;
}

}  // namespace

com_ptr<Archive> Archive::Create() { return zorvik::rt::make<Archive>(); }

Archive::Archive() {
    // Every new Archive hands the engine the spill-storage factory again.
    Engine::EngineModule::Get().Init7zipLibForWS(&Engine::WSHelperObjectsFactory::Instance());
}

Archive::~Archive() { Dispose(); }

void Archive::Dispose() noexcept {
    if (disposed_.exchange(true)) return;
    std::lock_guard lock(Lock);
    FileLock.reset();
    Origin.reset();
    Options = nullptr;
    Password.reset();
    ArchiveName.clear();
    NestedInName.clear();
    Format.reset();
    DropRootFolder();
    InArchive = nullptr;  // released without Close
}

HRESULT Archive::Close() {
    Dispose();
    return S_OK;
}

Archive::Snapshot Archive::State() {
    std::lock_guard lock(Lock);
    Snapshot state;
    state.IsOpen = InArchive != nullptr;
    state.IsNew = IsNew;
    state.MayBeWrittenBack = MayBeWrittenBack();
    state.RootFolder = RootFolder;
    if (Format) {
        state.FormatName = Format->Name;
        state.Compressor = Format->Compressor;
    }
    state.Options = Options;
    state.Password = Password;
    state.FileLock = FileLock;
    state.Origin = Origin;
    return state;
}

bool Archive::CloseArchive() {
    std::lock_guard lock(Lock);
    if (!InArchive) return false;
    // Released, not closed: an extraction may still be running on the handler with its own
    // reference, and the engine's handlers are not safe to close under a running call. The
    // last reference closes it.
    InArchive = nullptr;
    DropRootFolder();
    Format.reset();
    ArchiveName.clear();
    NestedInName.clear();
    DamagedFormat.clear();
    HasDamagedHeaders = false;
    IsCutShort = false;
    IsNew = false;
    IsNested = false;
    PackedSize = 0;
    FileLock.reset();
    Origin.reset();
    return true;
}

void Archive::DropRootFolder() {
    std::lock_guard lock(Lock);
    if (RootFolder) static_cast<ArchiveFolder*>(RootFolder.get())->Item().Tree().ReleasePins();
    RootFolder = nullptr;
    RootFolderBuilding = false;
    FileCountValid = false;
    UnpackedSizeValid = false;
    RootFolderBuilt.notify_all();
}

std::pair<std::uint64_t, std::uint64_t> Archive::TreeStatistics() {
    com_ptr<IArchiveFolder> root;
    {
        std::lock_guard lock(Lock);
        if (!RootFolder || RootFolderBuilding) return {0, 0};
        if (FileCountValid && UnpackedSizeValid) return {FileCount, UnpackedSize};
        root = RootFolder;
    }
    // Counted without the lock: a large tree should not hold up the archive's other members.
    const auto totals = static_cast<ArchiveFolder*>(root.get())->Item().Tree().Totals();
    std::lock_guard lock(Lock);
    if (RootFolder == root && !RootFolderBuilding) {
        FileCount = totals.Count;
        UnpackedSize = totals.Size;
        FileCountValid = UnpackedSizeValid = true;
    }
    return {totals.Count, totals.Size};
}

HRESULT Archive::get_FormatName(HSTRING* value) {
    return Member([&] {
        CheckOut(value);
        std::lock_guard lock(Lock);
        *value = zorvik::rt::hstring(Format ? std::wstring_view(Format->Name) : std::wstring_view()).detach();
    });
}

HRESULT Archive::get_HasDamagedHeaders(bool* value) {
    return Member([&] {
        CheckOut(value);
        std::lock_guard lock(Lock);
        *value = HasDamagedHeaders;
    });
}

HRESULT Archive::get_IsCutShort(bool* value) {
    return Member([&] {
        CheckOut(value);
        std::lock_guard lock(Lock);
        *value = IsCutShort;
    });
}

HRESULT Archive::get_DamagedFormatName(HSTRING* value) {
    return Member([&] {
        CheckOut(value);
        std::lock_guard lock(Lock);
        *value = zorvik::rt::hstring(DamagedFormat).detach();
    });
}

std::uint32_t Archive::ExtractionThreadCount() const noexcept {
    if (const std::uint32_t set = extractionThreads_.load()) return set;
    cpu_set_t cores;
    if (sched_getaffinity(0, sizeof cores, &cores) == 0) return static_cast<std::uint32_t>(std::max(1, CPU_COUNT(&cores)));
    return std::max(1u, std::thread::hardware_concurrency());
}

HRESULT Archive::get_ExtractionThreads(std::uint32_t* value) {
    return Member([&] {
        CheckOut(value);
        *value = ExtractionThreadCount();
    });
}

HRESULT Archive::put_ExtractionThreads(std::uint32_t value) {
    return Member([&] { extractionThreads_.store(value); });
}

HRESULT Archive::get_CompressorDescription(ICompressorDescription** value) {
    return Member([&] {
        CheckOut(value);
        std::lock_guard lock(Lock);
        *value = Format ? com_ptr<ICompressorDescription>(Format->Compressor).detach() : nullptr;
    });
}

HRESULT Archive::get_CompressionOptions(ICompressionOptions** value) {
    return Member([&] {
        CheckOut(value);
        std::lock_guard lock(Lock);
        *value = com_ptr<ICompressionOptions>(Options).detach();
    });
}

HRESULT Archive::put_CompressionOptions(ICompressionOptions* value) {
    return Member([&] {
        std::lock_guard lock(Lock);
        Options = com_ptr<ICompressionOptions>::copy_from(value);
    });
}

HRESULT Archive::get_CanUpdate(bool* value) {
    return Member([&] {
        CheckOut(value);
        std::lock_guard lock(Lock);
        *value = MayBeWrittenBack();
    });
}

HRESULT Archive::get_KeepsName(bool* value) {
    return Member([&] {
        CheckOut(value);
        std::lock_guard lock(Lock);
        *value = Format && Format->KeepsName;
    });
}

HRESULT Archive::get_HasItemNames(bool* value) {
    return Member([&] {
        CheckOut(value);
        std::lock_guard lock(Lock);
        // Single-stream formats whose entry has no name of its own.
        *value = Format && Format->Name != L"bzip2" && Format->Name != L"xz";
    });
}

HRESULT Archive::get_FileCount(std::uint64_t* value) {
    return Member([&] {
        CheckOut(value);
        *value = TreeStatistics().first;
    });
}

HRESULT Archive::get_CompressionRatio(double* value) {
    return Member([&] {
        CheckOut(value);
        const std::uint64_t unpacked = TreeStatistics().second;
        std::uint64_t packed = 0;
        {
            std::lock_guard lock(Lock);
            packed = PackedSize;
        }
        *value = unpacked == 0 || packed == 0 || unpacked < packed ? 0.0 : 1.0 - double(packed) / double(unpacked);
    });
}

HRESULT Archive::get_UnpackedSize(std::uint64_t* value) {
    return Member([&] {
        CheckOut(value);
        *value = TreeStatistics().second;
    });
}

HRESULT Archive::get_HasPassword(bool* value) {
    return Member([&] {
        CheckOut(value);
        std::lock_guard lock(Lock);
        *value = Password.has_value();
    });
}

HRESULT Archive::get_CapabilityF(bool* value) {
    return Member([&] {
        CheckOut(value);
        com_ptr<ICompressorDescription> compressor;
        {
            std::lock_guard lock(Lock);
            if (Format) compressor = Format->Compressor;
        }
        *value = false;
        if (compressor) zorvik::rt::check_hresult(compressor->get_CapabilityF(value));
    });
}

HRESULT Archive::OpenAsync(IRandomAccessStream* stream, IArchiveSource* source, IAsyncOperation<bool>** operation) {
    return Member([&] {
        CheckOut(operation);
        if (!stream || !source) zorvik::rt::throw_hresult(E_INVALIDARG);
        auto self = com_ptr<Archive>::copy_from(this);
        auto streamRef = com_ptr<IRandomAccessStream>::copy_from(stream);
        auto sourceRef = com_ptr<IArchiveSource>::copy_from(source);
        *operation =
            zorvik::rt::run_async<bool>([self, streamRef, sourceRef] { return self->Open(streamRef.get(), sourceRef.get()); }).detach();
    });
}

HRESULT Archive::CloseAsync(IAsyncOperation<bool>** operation) {
    return Member([&] {
        CheckOut(operation);
        auto self = com_ptr<Archive>::copy_from(this);
        *operation = zorvik::rt::run_async<bool>([self] { return self->CloseArchive(); }).detach();
    });
}

HRESULT Archive::CreateAsync(IRandomAccessStream* stream, IArchiveSource* source, IAsyncOperation<bool>** operation) {
    return Member([&] {
        CheckOut(operation);
        // The stream is where the first update will write; creating writes nothing.
        if (!stream || !source) zorvik::rt::throw_hresult(E_INVALIDARG);
        auto self = com_ptr<Archive>::copy_from(this);
        auto sourceRef = com_ptr<IArchiveSource>::copy_from(source);
        *operation = zorvik::rt::run_async<bool>([self, sourceRef] { return self->Create(sourceRef.get()); }).detach();
    });
}
HRESULT Archive::GetRootFolderAsync(IOperationProgress* progress, IAsyncOperation<IArchiveFolder*>** operation) {
    return Member([&] {
        CheckOut(operation);
        auto self = com_ptr<Archive>::copy_from(this);
        auto progressRef = com_ptr<IOperationProgress>::copy_from(progress);
        *operation = zorvik::rt::run_async<IArchiveFolder*>([self, progressRef](const zorvik::rt::cancellation_token& cancellation) {
                         return Impl::GetRootFolder(*self, progressRef.get(), cancellation);
                     }).detach();
    });
}
HRESULT Archive::ExtractAsync(std::uint32_t itemCount, IArchiveItem** items, IExtractionCallback* callback,
                              IAsyncOperation<bool>** operation) {
    return Member([&] {
        CheckOut(operation);
        if (itemCount != 0 && !items) zorvik::rt::throw_hresult(E_INVALIDARG);
        std::vector<com_ptr<IArchiveItem>> chosen;
        for (std::uint32_t i = 0; i < itemCount; ++i) chosen.push_back(com_ptr<IArchiveItem>::copy_from(items[i]));
        auto self = com_ptr<Archive>::copy_from(this);
        auto callbackRef = com_ptr<IExtractionCallback>::copy_from(callback);
        *operation = zorvik::rt::run_async<bool>([self, chosen = std::move(chosen),
                                                  callbackRef](const zorvik::rt::cancellation_token& cancellation) mutable {
                         return Impl::Extract(*self, std::move(chosen), std::move(callbackRef), cancellation);
                     }).detach();
    });
}
HRESULT Archive::UpdateAsync(std::uint32_t removeCount, IArchiveItem** remove, std::uint32_t addCount, IArchiveAddable** add,
                             IUpdateCallback* callback, IRandomAccessStream* destination, IAsyncOperation<UpdateResult>** operation) {
    return Member([&] {
        StartUpdate(*this, callback, destination, operation,
                    [removed = ListOf(removeCount, remove), added = ListOf(addCount, add)](UpdateArguments arguments) {
                        return Impl::Update(arguments.archive, removed, added, arguments.callback, {arguments.destination},
                                            arguments.cancellation);
                    });
    });
}

HRESULT Archive::UpdateInVolumesAsync(std::uint32_t removeCount, IArchiveItem** remove, std::uint32_t addCount, IArchiveAddable** add,
                                      IUpdateCallback* callback, std::uint64_t volumeSize, IRandomAccessStream* firstVolume,
                                      IAsyncOperation<UpdateResult>** operation) {
    return Member([&] {
        // Refused at once rather than once a volume is full.
        if (volumeSize == 0 || (callback && !com_ptr<IUpdateCallback>::copy_from(callback).try_as<IUpdateVolumeProvider>()))
            zorvik::rt::throw_hresult(E_INVALIDARG);
        StartUpdate(*this, callback, firstVolume, operation,
                    [removed = ListOf(removeCount, remove), added = ListOf(addCount, add), volumeSize](UpdateArguments arguments) {
                        return Impl::Update(arguments.archive, removed, added, arguments.callback, {arguments.destination, volumeSize},
                                            arguments.cancellation);
                    });
    });
}

HRESULT Archive::RemoveAsync(std::uint32_t itemCount, IArchiveItem** items, IUpdateCallback* callback, IRandomAccessStream* destination,
                             IAsyncOperation<UpdateResult>** operation) {
    return UpdateAsync(itemCount, items, 0, nullptr, callback, destination, operation);
}

HRESULT Archive::AddAsync(std::uint32_t itemCount, IArchiveAddable** items, IUpdateCallback* callback, IRandomAccessStream* destination,
                          IAsyncOperation<UpdateResult>** operation) {
    return UpdateAsync(0, nullptr, itemCount, items, callback, destination, operation);
}

HRESULT Archive::RenameAsync(IArchiveItem* item, HSTRING newName, IUpdateCallback* callback, IRandomAccessStream* destination,
                             IAsyncOperation<UpdateResult>** operation) {
    return Member([&] {
        if (!item) zorvik::rt::throw_hresult(E_INVALIDARG);
        StartUpdate(*this, callback, destination, operation,
                    [item = com_ptr<IArchiveItem>::copy_from(item), name = zorvik::rt::copy_hstring(newName)](UpdateArguments arguments) {
                        return Impl::Rename(arguments.archive, item, name.view(), arguments.callback, arguments.destination,
                                            arguments.cancellation);
                    });
    });
}

HRESULT Archive::MoveAsync(std::uint32_t itemCount, IArchiveItem** items, IArchiveFolder* target, IUpdateCallback* callback,
                           IRandomAccessStream* destination, IAsyncOperation<UpdateResult>** operation) {
    return Member([&] {
        StartUpdate(*this, callback, destination, operation,
                    [moved = ListOf(itemCount, items), target = com_ptr<IArchiveFolder>::copy_from(target)](UpdateArguments arguments) {
                        return Impl::Move(arguments.archive, moved, target, arguments.callback, arguments.destination,
                                          arguments.cancellation);
                    });
    });
}

HRESULT Archive::EditAsync(std::uint32_t removeCount, IArchiveItem** remove, std::uint32_t renameCount, IArchiveItem** renamed,
                           HSTRING* newNames, std::uint32_t moveCount, IArchiveItem** moved, IArchiveFolder** targets,
                           std::uint32_t addCount, IArchiveAddable** add, IUpdateCallback* callback, IRandomAccessStream* destination,
                           IAsyncOperation<UpdateResult>** operation) {
    return Member([&] {
        if ((renameCount != 0 && !newNames) || (moveCount != 0 && !targets)) zorvik::rt::throw_hresult(E_INVALIDARG);
        Impl::Edits edits{ListOf(removeCount, remove), {}, {}, ListOf(addCount, add)};
        const auto renamedItems = ListOf(renameCount, renamed);
        for (std::uint32_t i = 0; i < renameCount; ++i)
            edits.rename.emplace_back(renamedItems[i], std::wstring(zorvik::rt::copy_hstring(newNames[i]).view()));
        const auto movedItems = ListOf(moveCount, moved);
        for (std::uint32_t i = 0; i < moveCount; ++i)
            edits.move.emplace_back(movedItems[i], com_ptr<IArchiveFolder>::copy_from(targets[i]));
        StartUpdate(*this, callback, destination, operation, [edits = std::move(edits)](UpdateArguments arguments) {
            return Impl::Edit(arguments.archive, edits, arguments.callback, arguments.destination, arguments.cancellation);
        });
    });
}

}  // namespace Zorvik
