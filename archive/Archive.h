// The Archive runtime class: one archive at a time, opened from a caller's stream.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "archive/ArchiveOrigin.h"
#include "archive/FileLock.h"
#include "base/ComponentObject.h"
#include "engine/EngineInterfaces.h"
#include "model/FormatRecord.h"
#include "zorvik/Archive.h"
#include "zorvik/Compression.h"
#include "zorvik/Edit.h"
#include "zorvik/ExtractionThreads.h"
#include "zorvik/Items.h"
#include "zorvik/OpenedArchiveInfo.h"
#include "zorvik/VolumeUpdate.h"

namespace Zorvik {

class Archive final : public Impl::ComponentObject<Archive, IArchive, ABI::Windows::Foundation::IClosable, IOpenedArchiveInfo,
                                                   IVolumeUpdate, IExtractionThreads, IArchiveEdit> {
public:
    static constexpr const char* runtime_class_name = "Zorvik.Archive";
    static constexpr const char* FactoryName = "Zorvik.__ArchiveActivationFactory";
    static zorvik::rt::com_ptr<Archive> Create();

    // Starts the archive engine; raises when the engine module cannot be used.
    Archive();
    ~Archive() override;

    HRESULT get_CompressorDescription(ICompressorDescription** value) override;
    HRESULT get_CompressionOptions(ICompressionOptions** value) override;
    HRESULT put_CompressionOptions(ICompressionOptions* value) override;
    HRESULT get_CanUpdate(bool* value) override;
    HRESULT get_KeepsName(bool* value) override;
    HRESULT get_HasItemNames(bool* value) override;
    HRESULT get_FileCount(std::uint64_t* value) override;
    HRESULT get_CompressionRatio(double* value) override;
    HRESULT get_UnpackedSize(std::uint64_t* value) override;
    HRESULT get_HasPassword(bool* value) override;
    HRESULT get_CapabilityF(bool* value) override;
    HRESULT CreateAsync(IRandomAccessStream* stream, IArchiveSource* source, IAsyncOperation<bool>** operation) override;
    HRESULT OpenAsync(IRandomAccessStream* stream, IArchiveSource* source, IAsyncOperation<bool>** operation) override;
    HRESULT GetRootFolderAsync(IOperationProgress* progress, IAsyncOperation<IArchiveFolder*>** operation) override;
    HRESULT ExtractAsync(std::uint32_t itemCount, IArchiveItem** items, IExtractionCallback* callback,
                         IAsyncOperation<bool>** operation) override;
    HRESULT UpdateAsync(std::uint32_t removeCount, IArchiveItem** remove, std::uint32_t addCount, IArchiveAddable** add,
                        IUpdateCallback* callback, IRandomAccessStream* destination, IAsyncOperation<UpdateResult>** operation) override;
    HRESULT RemoveAsync(std::uint32_t itemCount, IArchiveItem** items, IUpdateCallback* callback, IRandomAccessStream* destination,
                        IAsyncOperation<UpdateResult>** operation) override;
    HRESULT AddAsync(std::uint32_t itemCount, IArchiveAddable** items, IUpdateCallback* callback, IRandomAccessStream* destination,
                     IAsyncOperation<UpdateResult>** operation) override;
    HRESULT RenameAsync(IArchiveItem* item, HSTRING newName, IUpdateCallback* callback, IRandomAccessStream* destination,
                        IAsyncOperation<UpdateResult>** operation) override;
    HRESULT MoveAsync(std::uint32_t itemCount, IArchiveItem** items, IArchiveFolder* target, IUpdateCallback* callback,
                      IRandomAccessStream* destination, IAsyncOperation<UpdateResult>** operation) override;
    HRESULT CloseAsync(IAsyncOperation<bool>** operation) override;

    // IClosable: dispose.
    HRESULT Close() override;

    // IOpenedArchiveInfo
    HRESULT get_FormatName(HSTRING* value) override;
    HRESULT get_DamagedFormatName(HSTRING* value) override;
    HRESULT get_HasDamagedHeaders(bool* value) override;
    HRESULT get_IsCutShort(bool* value) override;

    // IVolumeUpdate
    HRESULT UpdateInVolumesAsync(std::uint32_t removeCount, IArchiveItem** remove, std::uint32_t addCount, IArchiveAddable** add,
                                 IUpdateCallback* callback, std::uint64_t volumeSize, IRandomAccessStream* firstVolume,
                                 IAsyncOperation<UpdateResult>** operation) override;

    // IArchiveEdit
    HRESULT EditAsync(std::uint32_t removeCount, IArchiveItem** remove, std::uint32_t renameCount, IArchiveItem** renamed,
                      HSTRING* newNames, std::uint32_t moveCount, IArchiveItem** moved, IArchiveFolder** targets, std::uint32_t addCount,
                      IArchiveAddable** add, IUpdateCallback* callback, IRandomAccessStream* destination,
                      IAsyncOperation<UpdateResult>** operation) override;

    // IExtractionThreads
    HRESULT get_ExtractionThreads(std::uint32_t* value) override;
    HRESULT put_ExtractionThreads(std::uint32_t value) override;
    // What an extraction started now may use; at least 1.
    std::uint32_t ExtractionThreadCount() const noexcept;

    // What an operation reads of the open archive, taken at once under Lock: the fields below
    // as they stood together at one moment.
    // It holds no reference to the engine's handler, whose count is kept without atomics: an
    // operation that calls the handler takes an EngineReference.
    struct Snapshot {
        bool IsOpen = false;
        bool IsNew = false;
        bool MayBeWrittenBack = false;
        zorvik::rt::com_ptr<IArchiveFolder> RootFolder;
        std::wstring FormatName;  // empty when nothing is open
        zorvik::rt::com_ptr<ICompressorDescription> Compressor;
        zorvik::rt::com_ptr<ICompressionOptions> Options;
        std::optional<std::wstring> Password;
        // New with every open and create: it tells whether the archive is still the one of the
        // snapshot.
        std::shared_ptr<Impl::FileLock> FileLock;
        std::shared_ptr<const Impl::ArchiveOrigin> Origin;
    };
    Snapshot State();

    // State shared with the tree, extraction and update; single reads and writes go under
    // Lock, never whole operations.
    std::recursive_mutex Lock;
    zorvik::rt::com_ptr<Engine::IInArchive> InArchive;
    // The item tree, built once by GetRootFolderAsync and stored before its entries are added.
    // RootFolderBuilding is set while a build fills it; RootFolderBuilt wakes those who wait for
    // that build to end.
    zorvik::rt::com_ptr<IArchiveFolder> RootFolder;
    bool RootFolderBuilding = false;
    std::condition_variable_any RootFolderBuilt;
    std::unique_ptr<Impl::FormatRecord> Format;
    std::wstring ArchiveName;
    // Of an archive found inside another, the name of the entry it was found in (the data.tar.xz
    // of a .deb): an entry without a name of its own is named after it, not after the file.
    std::wstring NestedInName;
    // A format whose signature begins the stream of the last open (or of the archive found
    // inside) but whose handler could not open it.
    std::wstring DamagedFormat;
    // The handler found headers that failed their checks.
    bool HasDamagedHeaders = false;
    bool IsCutShort = false;
    bool IsNew = false;
    bool IsMultiVolume = false;
    // The archive was found inside another's single stream (a tar in a gzip): the engine would
    // write it back without that outer compression, so it is not written at all.
    bool IsNested = false;
    // Whether the open archive's handler may write it back as it is; Lock held.
    bool MayBeWrittenBack() const { return Format && !IsMultiVolume && !IsNested && Format->CanUpdate; }
    std::optional<std::wstring> Password;
    zorvik::rt::com_ptr<ICompressionOptions> Options;
    // Statistics of the tree, computed on first use after it is built.
    bool FileCountValid = false;
    std::uint64_t FileCount = 0;
    bool UnpackedSizeValid = false;
    std::uint64_t UnpackedSize = 0;
    std::uint64_t PackedSize = 0;
    // Shared, so that an operation holding the lock keeps it alive through a Close.
    std::shared_ptr<Impl::FileLock> FileLock;
    // What the open archive was opened from, for extractions on several threads; null when it
    // cannot be opened again as it is (an archive found inside another, a new one).
    std::shared_ptr<const Impl::ArchiveOrigin> Origin;

private:
    // Runs a public member's body: raises ObjectDisposedException after dispose, and turns
    // whatever the body throws into its HRESULT.
    template <typename Body>
    HRESULT Member(Body&& body) noexcept {
        return zorvik::rt::boundary([&] {
            if (disposed_) throw zorvik::rt::object_disposed_error();
            body();
        });
    }
    void Dispose() noexcept;
    // Closes the open archive; false when nothing was open.
    bool CloseArchive();
    bool Open(IRandomAccessStream* stream, IArchiveSource* source);
    // A new, empty archive of the format the source's file type names; false when none can write.
    bool Create(IArchiveSource* source);
    // Takes the format of a successful open or create: Format, and Options from its compressor.
    void AdoptFormat(const Impl::FormatRecord& format);
    // After an open with a password of a format that hides names with it: Options ask for
    // hidden names again. Lock held.
    void KeepHeaderEncryption();
    // File count and unpacked size of the tree; zeros while there is none or it is being built.
    std::pair<std::uint64_t, std::uint64_t> TreeStatistics();
    // Drops the tree and what was computed from it, and wakes those who wait for its build.
    void DropRootFolder();

    std::atomic<bool> disposed_{false};
    std::atomic<std::uint32_t> extractionThreads_{0};  // 0: one a core
};

}  // namespace Zorvik
