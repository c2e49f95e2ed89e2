// Opening and listing: the library walks every volume's headers once, and each file header
// becomes an entry of the flat list the handler presents (a file split across volumes is one
// item of several entries; a file copy points at the item it copies).
#include "rar.hpp"

#include <algorithm>
#include <new>
#include <thread>

#include "rar/UnRAR.Shared/ReaderInternals.h"
#include "rar/UnRAR.Shared/UnRAR.h"

namespace UnRAR {

namespace {

unsigned OptionThreads() {
    const unsigned reported = std::thread::hardware_concurrency();
    return std::clamp(reported, 1u, 32u);
}

// A copy's target with "/" between components: RAR 5.0 wrote backslashes there, later versions
// slashes. The library gives names with "/" between components already, a backslash of a name
// made on Unix kept as part of it.
std::wstring ConvertTarget(const wchar_t* name) {
    std::wstring converted(name);
    std::replace(converted.begin(), converted.end(), L'\\', L'/');
    return converted;
}

int CALLBACK OpenCallbackProc(UINT message, LPARAM userData, LPARAM p1, LPARAM p2) {
    auto* callback = reinterpret_cast<IOpenCallback*>(userData);
    if (IsVolumeRequest(message, p2)) return -1;
    if (message == UCM_NEEDPASSWORDW && callback) {
        bool canceled = false;
        FillPassword([&](wchar_t* buffer) { canceled = callback->GetPassword(buffer) == kAbort; }, reinterpret_cast<wchar_t*>(p1), p2);
        // No password ends the open as a missing one; a cancel ends it as a user break.
        if (canceled) ErrHandler.Exit(RARX_USERBREAK);
    }
    return 0;
}

// What a redirection makes of its entry. Junctions and Windows links read as symbolic links.
LinkKind LinkKindOf(FILE_SYSTEM_REDIRECT type) {
    switch (type) {
    case FSREDIR_UNIXSYMLINK:
    case FSREDIR_WINSYMLINK:
    case FSREDIR_JUNCTION: return LinkKind::Symbolic;
    case FSREDIR_HARDLINK: return LinkKind::Hard;
    default: return LinkKind::None;
    }
}

// A link's target as stored, with slashes between components: RAR 5.0 wrote the links of
// Windows with backslashes, later versions with slashes.
std::wstring LinkTarget(const FileHeader& header) {
    std::wstring target(header.RedirName);
    if (header.HSType == HSYS_WINDOWS) std::replace(target.begin(), target.end(), L'\\', L'/');
    return target;
}

std::int64_t NonNegative(std::int64_t size) { return size < 0 ? 0 : size; }

// The first signature in the stream's first bytes; older formats are declined before the
// library reads any of their headers (which could ask for a password).
RARFORMAT LeadingFormat(Archive& archive) {
    byte start[SIZEOF_MARKHEAD5] = {};
    archive.Seek(0, SEEK_SET);
    const int read = archive.Read(start, sizeof(start));
    archive.Seek(0, SEEK_SET);
    return read > 0 ? Archive::IsSignature(start, static_cast<size_t>(read)) : RARFMT_NONE;
}

}  // namespace

void UseOpenCallback(Archive& archive, IOpenCallback* callback) {
    CommandData* options = archive.GetCommandData();
    options->DllOpMode = RAR_EXTRACT;
    options->Callback = OpenCallbackProc;
    options->UserData = reinterpret_cast<LPARAM>(callback);
}

Reader::Reader() = default;

Reader::~Reader() = default;

void Reader::Close() {
    archive_.reset();
    refItems_.clear();
    entries_.clear();
    headersDamaged_ = false;
    cutShort_ = false;
}

std::uint64_t Reader::PackedSize(std::uint32_t index) const {
    const RefItem& item = refItems_[index];
    std::uint64_t total = 0;
    for (std::uint32_t i = 0; i < item.entryCount && item.firstEntry + i < entries_.size(); ++i)
        total = SaturatingAdd(total, static_cast<std::uint64_t>(entries_[item.firstEntry + i].packedSize));
    return total;
}

HRESULT_t Reader::Open(std::shared_ptr<IInputStream> input, std::shared_ptr<IOpenCallback> callback) {
    try {
        Close();
        archive_ = std::make_shared<::Archive>();
        archive_->SetInputStream(std::move(input));
        archive_->SetOpenCallback(callback);
        UseOpenCallback(*archive_, callback.get());
        archive_->GetCommandData()->Threads = OptionThreads();
        // Every header is walked anyway; the quick-open copy of them would only be a second,
        // separately decrypted source of the same headers.
        archive_->GetCommandData()->QOpenMode = QOPEN_NONE;

        const std::wstring name = callback ? callback->GetArchiveName() : std::wstring();
        if (!archive_->Open(name.c_str())) {
            ErrHandler.SetErrorCode(RARX_OPEN);
            return kFail;
        }
        return OpenVolumes();
    } catch (RAR_EXIT code) {
        // The library breaks off when the caller gave no password: the archive is not opened,
        // but nothing was cancelled.
        const bool passwordMissing = archive_ && archive_->GetCommandData()->DllError == ERAR_MISSING_PASSWORD;
        return code == RARX_USERBREAK && !passwordMissing ? kAbort : kFail;
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    } catch (...) {
        return kFail;
    }
}

HRESULT_t Reader::OpenVolumes() {
    ::Archive& archive = *archive_;
    bool restartedFromFirst = false;
    for (;;) {
        ResetErrorState();
        const RARFORMAT leading = LeadingFormat(archive);
        if (leading == RARFMT14 || leading == RARFMT15) return kFalse;
        if (!archive.IsArchive(false)) {
            // The file ends before the main header is whole: the archive is cut short, and a
            // header that could not be decrypted was cut, not decrypted with a wrong password
            // (one that fails the encryption header's check value ends the open before).
            cutShort_ = archive.Format == RARFMT50 && archive.Tell() >= archive.FileLength();
            return kFail;
        }
        if (archive.Format < RARFMT50 || archive.FailedHeaderDecryption) return kFalse;

        // Opened on a later volume: start over from the first one, once.
        if (archive.Volume && !archive.FirstVolume && archive.FirstVolumeName[0] == 0 && !restartedFromFirst) {
            restartedFromFirst = true;
            const std::wstring first = FirstVolumeName(archive.FileName, archive.NewNumbering);
            archive.Close();
            if (!archive.Open(first.c_str())) {
                ErrHandler.SetErrorCode(RARX_OPEN);
                return kFail;
            }
            continue;
        }

        bool lastSplitAfter = false;
        bool nextVolume = false;
        bool ended = false;
        while (archive.ReadHeader() != 0) {
            // The library keeps the flag until the next volume's check.
            headersDamaged_ = headersDamaged_ || archive.BrokenHeader;
            const HEADER_TYPE type = archive.GetHeaderType();
            if (type == HEAD_ENDARC) {
                nextVolume = archive.EndArcHead.NextVolume;
                ended = true;
                break;
            }
            if (type == HEAD_FILE) {
                RecordFileHeader(archive.VolNumber);
                lastSplitAfter = archive.FileHead.SplitAfter;
            }
            archive.SeekToNext();
        }
        // Every RAR 5 volume closes with an end-of-archive header.
        cutShort_ = cutShort_ || !ended;
        if (!(lastSplitAfter || nextVolume) || !archive.Volume) break;
        if (!MergeArchive(archive, nullptr, false, 'L')) break;
        archive.Seek(0, SEEK_SET);
    }
    return kOk;
}

void Reader::RecordFileHeader(std::uint32_t volumeNumber) {
    const FileHeader& header = archive_->FileHead;
    RefItem started;
    started.volumeNumber = volumeNumber;
    started.firstEntry = static_cast<std::uint32_t>(entries_.size());
    if (header.RedirType == FSREDIR_FILECOPY) {
        const std::wstring target = ConvertTarget(header.RedirName);
        const auto found = std::find_if(refItems_.begin(), refItems_.end(), [&](const RefItem& item) {
            const std::wstring& name = entries_[item.firstEntry].name;
            return name == header.RedirName || name == target;
        });
        // A copy of something not in the archive has nothing to be extracted from.
        if (found == refItems_.end()) return;
        started.isLink = true;
        // A copy of a copy is decoded from the original.
        started.linkTarget = found->isLink ? found->linkTarget : static_cast<std::uint32_t>(found - refItems_.begin());
    }
    if (!header.SplitBefore || refItems_.empty()) refItems_.push_back(started);

    EntryInfo entry;
    entry.headerPosition = archive_->CurBlockPos;
    entry.accessTime = const_cast<RarTime&>(header.atime).GetWin();
    entry.creationTime = const_cast<RarTime&>(header.ctime).GetWin();
    entry.modificationTime = const_cast<RarTime&>(header.mtime).GetWin();
    entry.packedSize = NonNegative(header.PackSize);
    entry.unpackedSize = NonNegative(header.UnpSize);
    entry.name = header.FileName;
    entry.isDirectory = header.Dir;
    entry.isEncrypted = header.Encrypted;
    entry.attributes = header.FileAttr;
    entry.unixAttributes = header.HSType == HSYS_UNIX;
    entry.link = LinkKindOf(header.RedirType);
    if (entry.link != LinkKind::None) entry.linkTarget = LinkTarget(header);
    entries_.push_back(std::move(entry));
    refItems_.back().entryCount++;
}

}  // namespace UnRAR
