// The component's public ABI: the Archive runtime class and the interfaces its callers
// implement to describe an archive and follow an operation.
#pragma once

#include "zorvik/runtime/async_abi.h"
#include "zorvik/runtime/streams_abi.h"

namespace Zorvik {

using ABI::Windows::Foundation::IAsyncOperation;
using ABI::Windows::Storage::Streams::IRandomAccessStream;

struct ICompressorDescription;
struct ICompressionOptions;
struct IArchiveFolder;
struct IArchiveItem;
struct IArchiveAddable;
struct IExtractionCallback;
struct IUpdateCallback;

// Outcome of an update operation.
enum class UpdateResult : std::int32_t;

// Extraction and update take the archive's file lock, and fail with HRESULT 0x800700AA
// (ERROR_BUSY) while another operation holds it. When the lock could not be made at all they
// fail with the platform's reason instead: this one when there is no folder for lock files
// that other users cannot take (ERROR_INVALID_OWNER).
inline constexpr HRESULT kFileLockUnavailable = HRESULT_FROM_WIN32(1307);

// Implemented by the caller: describes one archive file and answers password and volume requests.
struct IArchiveSource : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IArchiveSource");
    static constexpr const char* name = "Zorvik.IArchiveSource";
    virtual HRESULT get_FileType(HSTRING* extension) = 0;  // without a leading dot
    virtual HRESULT get_Name(HSTRING* name) = 0;
    virtual HRESULT get_Path(HSTRING* path) = 0;
    virtual HRESULT get_Reserved(IInspectable** unused) = 0;  // never called by the component
    // status 0: the password is given; 1: cancel; other: no password.
    virtual HRESULT RequestPassword(std::int32_t* status, HSTRING* password) = 0;
    // status 0 with a stream: the volume; 1: cancel; other: not available.
    virtual HRESULT GetVolume(HSTRING volumeName, std::int32_t* status, IRandomAccessStream** volume) = 0;
    virtual HRESULT ReportOpenAttempt(bool opened) = 0;
};

// Implemented by the caller: progress of a long operation; an answer of 1 cancels it.
struct IOperationProgress : IInspectable {
    static constexpr GUID iid{0x1AD96C06, 0xEE34, 0x3BF3, {0x84, 0x35, 0x79, 0x58, 0xED, 0xBE, 0x7A, 0xB9}};
    static constexpr const char* name = "Zorvik.IOperationProgress";
    virtual HRESULT SetItemCount(std::uint32_t count) = 0;
    virtual HRESULT SetTotal(std::uint64_t total, std::int32_t* answer) = 0;
    virtual HRESULT SetCompleted(std::uint64_t completed, std::int32_t* answer) = 0;
};

// The default interface of the Archive runtime class; it also implements IClosable (dispose).
struct IArchive : IInspectable {
    static constexpr GUID iid{0x842F5B29, 0x0AD3, 0x35F6, {0xAD, 0x3A, 0xD1, 0x26, 0x28, 0x01, 0x55, 0xFE}};
    static constexpr const char* name = "Zorvik.IArchive";
    virtual HRESULT get_CompressorDescription(ICompressorDescription** value) = 0;
    virtual HRESULT get_CompressionOptions(ICompressionOptions** value) = 0;
    virtual HRESULT put_CompressionOptions(ICompressionOptions* value) = 0;
    virtual HRESULT get_CanUpdate(bool* value) = 0;
    virtual HRESULT get_KeepsName(bool* value) = 0;
    virtual HRESULT get_HasItemNames(bool* value) = 0;
    virtual HRESULT get_FileCount(std::uint64_t* value) = 0;
    virtual HRESULT get_CompressionRatio(double* value) = 0;
    virtual HRESULT get_UnpackedSize(std::uint64_t* value) = 0;
    virtual HRESULT get_HasPassword(bool* value) = 0;
    virtual HRESULT get_CapabilityF(bool* value) = 0;
    virtual HRESULT CreateAsync(IRandomAccessStream* stream, IArchiveSource* source, IAsyncOperation<bool>** operation) = 0;
    virtual HRESULT OpenAsync(IRandomAccessStream* stream, IArchiveSource* source, IAsyncOperation<bool>** operation) = 0;
    virtual HRESULT GetRootFolderAsync(IOperationProgress* progress, IAsyncOperation<IArchiveFolder*>** operation) = 0;
    virtual HRESULT ExtractAsync(std::uint32_t itemCount, IArchiveItem** items, IExtractionCallback* callback,
                                 IAsyncOperation<bool>** operation) = 0;
    virtual HRESULT UpdateAsync(std::uint32_t removeCount, IArchiveItem** remove, std::uint32_t addCount, IArchiveAddable** add,
                                IUpdateCallback* callback, IRandomAccessStream* destination, IAsyncOperation<UpdateResult>** operation) = 0;
    virtual HRESULT RemoveAsync(std::uint32_t itemCount, IArchiveItem** items, IUpdateCallback* callback, IRandomAccessStream* destination,
                                IAsyncOperation<UpdateResult>** operation) = 0;
    virtual HRESULT AddAsync(std::uint32_t itemCount, IArchiveAddable** items, IUpdateCallback* callback, IRandomAccessStream* destination,
                             IAsyncOperation<UpdateResult>** operation) = 0;
    virtual HRESULT RenameAsync(IArchiveItem* item, HSTRING newName, IUpdateCallback* callback, IRandomAccessStream* destination,
                                IAsyncOperation<UpdateResult>** operation) = 0;
    virtual HRESULT MoveAsync(std::uint32_t itemCount, IArchiveItem** items, IArchiveFolder* target, IUpdateCallback* callback,
                              IRandomAccessStream* destination, IAsyncOperation<UpdateResult>** operation) = 0;
    virtual HRESULT CloseAsync(IAsyncOperation<bool>** operation) = 0;
};

}  // namespace Zorvik

namespace zorvik::rt {
template <>
struct type_name<Zorvik::UpdateResult> {
    static std::string get() { return "Zorvik.UpdateResult"; }
};
}  // namespace zorvik::rt
