// A reader of RAR 5 archives (single or multi-volume) over the RAR library: opens through the
// stream-backed File, lists the archive as a flat list of items, and decodes chosen items into
// output streams that an extraction callback supplies. Older RAR formats are declined, so that
// another handler can take them. The library's own headers stay out of this one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "rar/UnRAR.Shared/FileWrapper.hpp"

class Archive;

namespace UnRAR {

class IExtractCallback {
public:
    virtual HRESULT_t GetStream(std::uint32_t index, std::shared_ptr<IOutputStream>& stream) = 0;
    virtual bool PrepareOperation() = 0;
    virtual bool SetOperationResult(std::int32_t result) = 0;
    virtual bool SetTotal(std::uint64_t total) = 0;
    virtual bool SetCompleted(const std::uint64_t* completed) = 0;
    // Writes a terminated password into a buffer of kPasswordBufferSize wide characters.
    virtual HRESULT_t GetPassword(wchar_t* buffer) = 0;
    virtual ~IExtractCallback() = default;
};

// Results of SetOperationResult, as the engine's extraction callback knows them.
enum OperationResult : std::int32_t { kResultOk = 0, kResultUnsupported = 1, kResultDataError = 2, kResultCrcError = 3 };

enum class LinkKind : std::uint8_t { None, Symbolic, Hard };

struct EntryInfo {
    std::int64_t headerPosition = 0;
    // FILETIME values; 0 when not stored.
    std::uint64_t accessTime = 0;
    std::uint64_t creationTime = 0;
    std::uint64_t modificationTime = 0;
    std::int64_t packedSize = 0;
    std::int64_t unpackedSize = 0;
    // Components joined by "/".
    std::wstring name;
    bool isDirectory = false;
    bool isEncrypted = false;
    // The header's file attributes: a POSIX mode when unixAttributes, Windows attributes otherwise.
    std::uint32_t attributes = 0;
    bool unixAttributes = false;
    // A symbolic or hard link has no data; its target is stored with "/" between components.
    LinkKind link = LinkKind::None;
    std::wstring linkTarget;
};

struct RefItem {
    std::uint32_t volumeNumber = 0;
    std::uint32_t firstEntry = 0;
    std::uint32_t entryCount = 0;
    // For a file copy, the index of the item it copies.
    std::uint32_t linkTarget = 0;
    bool isLink = false;
};

class Reader {
public:
    Reader();
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // 0 opened; 1 not a RAR 5 archive; E_FAIL; E_ABORT when cancelled.
    HRESULT_t Open(std::shared_ptr<IInputStream> input, std::shared_ptr<IOpenCallback> callback);
    // 0; 1 when an item could not be extracted; E_FAIL; E_ABORT; or a GetStream failure. The
    // library decodes on a thread of its own, ahead of the calling thread, which makes every
    // callback (the open callback's too) in the order of the items.
    HRESULT_t Extract(const std::vector<std::uint32_t>& indices, std::shared_ptr<IExtractCallback> callback);
    void Close();

    bool IsOpen() const { return archive_ != nullptr; }
    std::uint32_t ItemCount() const { return static_cast<std::uint32_t>(refItems_.size()); }
    const EntryInfo& FirstEntry(std::uint32_t index) const { return entries_[refItems_[index].firstEntry]; }
    const RefItem& Item(std::uint32_t index) const { return refItems_[index]; }
    // The sum of the packed sizes of the item's entries.
    std::uint64_t PackedSize(std::uint32_t index) const;
    // A header failed its checksum while the archive was opened; it was used as read.
    bool HeadersDamaged() const { return headersDamaged_; }
    // A volume's headers ran out before its end-of-archive header: the archive was cut.
    bool CutShort() const { return cutShort_; }

private:
    struct ExtractPlanItem {
        std::uint32_t index = 0;
        std::vector<std::uint32_t> destinations;
    };
    class Extraction;

    HRESULT_t OpenVolumes();
    void RecordFileHeader(std::uint32_t volumeNumber);
    std::vector<ExtractPlanItem> Plan(const std::vector<std::uint32_t>& indices) const;

    std::shared_ptr<::Archive> archive_;
    std::vector<RefItem> refItems_;
    std::vector<EntryInfo> entries_;
    bool headersDamaged_ = false;
    bool cutShort_ = false;
};

}  // namespace UnRAR
