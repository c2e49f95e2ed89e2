// The archive engine's COM-style interfaces, declared on our side: IIDs and slot orders as the
// engine module publishes them. Strings and variants follow OLE Automation rules (BSTR,
// PROPVARIANT) and are shared with the engine's allocator. The engine declares every method
// non-throwing: our implementations never let an exception escape.
#pragma once

#include "zorvik/runtime/base.h"
#include "zorvik/runtime/oleauto.h"

namespace Zorvik::Engine {

using PROPID = std::uint32_t;

// {23170F69-40C1-278A-0000-00gg00ii0000}: interface ii of group gg.
constexpr GUID EngineIid(std::uint8_t group, std::uint8_t interface) {
    return GUID{0x23170F69, 0x40C1, 0x278A, {0x00, 0x00, 0x00, group, 0x00, interface, 0x00, 0x00}};
}

// Entry property IDs.
enum : PROPID {
    kpidNoProperty = 0,
    kpidMainSubfile = 1,
    kpidPath = 3,
    kpidName = 4,
    kpidIsDir = 6,
    kpidSize = 7,
    kpidPackSize = 8,
    kpidAttrib = 9,  // Windows attributes; POSIX mode in the high 16 bits with kAttribUnixExtension
    kpidCTime = 10,
    kpidATime = 11,
    kpidMTime = 12,
    kpidEncrypted = 15,
    kpidPosixAttrib = 53,
    kpidSymLink = 54,
    kpidErrorFlags = 71,    // archive property: what went wrong while opening
    kpidWarningFlags = 72,  // the same, for what did not stop the open
    kpidHardLink = 90,
};

// The engine's mark in kpidAttrib that its high 16 bits hold a POSIX mode
// (FILE_ATTRIBUTE_UNIX_EXTENSION).
inline constexpr std::uint32_t kAttribUnixExtension = 0x8000;

// Bits of kpidErrorFlags and kpidWarningFlags: a header failed its checks; the data ended
// before the archive did.
inline constexpr std::uint32_t kErrorFlagsHeadersError = 1u << 1;
inline constexpr std::uint32_t kErrorFlagsUnexpectedEnd = 1u << 5;

// Handler property IDs of GetHandlerProperty2.
enum : PROPID {
    kHandlerName = 0,
    kHandlerClassID = 1,
    kHandlerExtension = 2,
    kHandlerAddExtension = 3,
    kHandlerUpdate = 4,
    kHandlerKeepName = 5,
    kHandlerSignature = 6,
    kHandlerMultiSignature = 7,
};

// Results of IArchiveExtractCallback::SetOperationResult.
enum : std::int32_t { kOpResultOk = 0, kOpResultUnsupportedMethod = 1, kOpResultDataError = 2, kOpResultCrcError = 3 };

struct ISequentialInStream : IUnknown {
    static constexpr GUID iid = EngineIid(0x03, 0x01);
    virtual HRESULT Read(void* data, std::uint32_t size, std::uint32_t* processedSize) = 0;
};

struct ISequentialOutStream : IUnknown {
    static constexpr GUID iid = EngineIid(0x03, 0x02);
    virtual HRESULT Write(const void* data, std::uint32_t size, std::uint32_t* processedSize) = 0;
};

struct IInStream : ISequentialInStream {
    static constexpr GUID iid = EngineIid(0x03, 0x03);
    using base_interface = ISequentialInStream;
    virtual HRESULT Seek(std::int64_t offset, std::uint32_t seekOrigin, std::uint64_t* newPosition) = 0;
};

struct IOutStream : ISequentialOutStream {
    static constexpr GUID iid = EngineIid(0x03, 0x04);
    using base_interface = ISequentialOutStream;
    virtual HRESULT Seek(std::int64_t offset, std::uint32_t seekOrigin, std::uint64_t* newPosition) = 0;
    virtual HRESULT SetSize(std::uint64_t newSize) = 0;
};

struct IStreamGetSize : IUnknown {
    static constexpr GUID iid = EngineIid(0x03, 0x06);
    virtual HRESULT GetSize(std::uint64_t* size) = 0;
};

struct IProgress : IUnknown {
    static constexpr GUID iid = EngineIid(0x00, 0x05);
    virtual HRESULT SetTotal(std::uint64_t total) = 0;
    virtual HRESULT SetCompleted(const std::uint64_t* completeValue) = 0;
};

struct ICompressProgressInfo : IUnknown {
    static constexpr GUID iid = EngineIid(0x04, 0x04);
    virtual HRESULT SetRatioInfo(const std::uint64_t* inSize, const std::uint64_t* outSize) = 0;
};

struct ICryptoGetTextPassword : IUnknown {
    static constexpr GUID iid = EngineIid(0x05, 0x10);
    virtual HRESULT CryptoGetTextPassword(BSTR* password) = 0;
};

struct ICryptoGetTextPassword2 : IUnknown {
    static constexpr GUID iid = EngineIid(0x05, 0x11);
    virtual HRESULT CryptoGetTextPassword2(std::int32_t* passwordIsDefined, BSTR* password) = 0;
};

struct ISetProperties : IUnknown {
    static constexpr GUID iid = EngineIid(0x06, 0x03);
    virtual HRESULT SetProperties(const wchar_t* const* names, const PROPVARIANT* values, std::uint32_t numProps) = 0;
};

struct IArchiveOpenCallback : IUnknown {
    static constexpr GUID iid = EngineIid(0x06, 0x10);
    virtual HRESULT SetTotal(const std::uint64_t* files, const std::uint64_t* bytes) = 0;
    virtual HRESULT SetCompleted(const std::uint64_t* files, const std::uint64_t* bytes) = 0;
};

struct IArchiveExtractCallback : IProgress {
    static constexpr GUID iid = EngineIid(0x06, 0x20);
    using base_interface = IProgress;
    virtual HRESULT GetStream(std::uint32_t index, ISequentialOutStream** outStream, std::int32_t askExtractMode) = 0;
    virtual HRESULT PrepareOperation(std::int32_t askExtractMode) = 0;
    virtual HRESULT SetOperationResult(std::int32_t opRes) = 0;
};

struct IArchiveOpenVolumeCallback : IUnknown {
    static constexpr GUID iid = EngineIid(0x06, 0x30);
    virtual HRESULT GetProperty(PROPID propID, PROPVARIANT* value) = 0;
    virtual HRESULT GetStream(const wchar_t* name, IInStream** inStream) = 0;
};

struct IInArchiveGetStream : IUnknown {
    static constexpr GUID iid = EngineIid(0x06, 0x40);
    virtual HRESULT GetStream(std::uint32_t index, ISequentialInStream** stream) = 0;
};

struct IArchiveOpenSetSubArchiveName : IUnknown {
    static constexpr GUID iid = EngineIid(0x06, 0x50);
    virtual HRESULT SetSubArchiveName(const wchar_t* name) = 0;
};

struct IInArchive : IUnknown {
    static constexpr GUID iid = EngineIid(0x06, 0x60);
    virtual HRESULT Open(IInStream* stream, const std::uint64_t* maxCheckStartPosition, IArchiveOpenCallback* openCallback) = 0;
    virtual HRESULT Close() = 0;
    virtual HRESULT GetNumberOfItems(std::uint32_t* numItems) = 0;
    virtual HRESULT GetProperty(std::uint32_t index, PROPID propID, PROPVARIANT* value) = 0;
    virtual HRESULT Extract(const std::uint32_t* indices, std::uint32_t numItems, std::int32_t testMode,
                            IArchiveExtractCallback* extractCallback) = 0;
    virtual HRESULT GetArchiveProperty(PROPID propID, PROPVARIANT* value) = 0;
    virtual HRESULT GetNumberOfProperties(std::uint32_t* numProps) = 0;
    virtual HRESULT GetPropertyInfo(std::uint32_t index, BSTR* name, PROPID* propID, VARTYPE* varType) = 0;
    virtual HRESULT GetNumberOfArchiveProperties(std::uint32_t* numProps) = 0;
    virtual HRESULT GetArchivePropertyInfo(std::uint32_t index, BSTR* name, PROPID* propID, VARTYPE* varType) = 0;
};

struct IArchiveUpdateCallback : IProgress {
    static constexpr GUID iid = EngineIid(0x06, 0x80);
    using base_interface = IProgress;
    virtual HRESULT GetUpdateItemInfo(std::uint32_t index, std::int32_t* newData, std::int32_t* newProps,
                                      std::uint32_t* indexInArchive) = 0;
    virtual HRESULT GetProperty(std::uint32_t index, PROPID propID, PROPVARIANT* value) = 0;
    virtual HRESULT GetStream(std::uint32_t index, ISequentialInStream** inStream) = 0;
    virtual HRESULT SetOperationResult(std::int32_t operationResult) = 0;
};

struct IArchiveUpdateCallback2 : IArchiveUpdateCallback {
    static constexpr GUID iid = EngineIid(0x06, 0x82);
    using base_interface = IArchiveUpdateCallback;
    virtual HRESULT GetVolumeSize(std::uint32_t index, std::uint64_t* size) = 0;
    virtual HRESULT GetVolumeStream(std::uint32_t index, ISequentialOutStream** volumeStream) = 0;
};

struct IOutArchive : IUnknown {
    static constexpr GUID iid = EngineIid(0x06, 0xA0);
    virtual HRESULT UpdateItems(ISequentialOutStream* outStream, std::uint32_t numItems, IArchiveUpdateCallback* updateCallback) = 0;
    virtual HRESULT GetFileTimeType(std::uint32_t* type) = 0;
};

// The engine module's exports.
using CreateObjectFunc = HRESULT (*)(const GUID* classId, const GUID* interfaceId, void** object);
using GetNumberOfFormatsFunc = HRESULT (*)(std::uint32_t* count);
using GetHandlerProperty2Func = HRESULT (*)(std::uint32_t formatIndex, PROPID propId, PROPVARIANT* value);

}  // namespace Zorvik::Engine
