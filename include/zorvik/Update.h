// The component's public ABI for writing archives: what a caller implements to offer content to
// add, and to answer the questions of an update. One callback object implements IUpdateCallback,
// IUpdatePasswordProvider and IOperationProgress.
#pragma once

#include "zorvik/Archive.h"
#include "zorvik/Items.h"

namespace Zorvik {

// An update that adds data to an archive whose entries are encrypted fails with this when the
// caller gives no password, or one that does not open them: the new entries would otherwise be
// stored in the clear, or need another password than the others.
inline constexpr HRESULT kWrongPassword = HRESULT_FROM_WIN32(86);  // ERROR_INVALID_PASSWORD

enum class UpdateResult : std::int32_t {
    Success = 0,
    Failure = 1,          // nothing to rename, a format that cannot write, a failed conflict check, or the engine failed
    NothingToUpdate = 2,  // nothing was written
};

// Answers of IUpdateCallback::ResolveConflict.
namespace ConflictAnswer {
inline constexpr std::int32_t Replace = 0;
inline constexpr std::int32_t Skip = 1;  // any value not listed here skips
inline constexpr std::int32_t Cancel = 2;
inline constexpr std::int32_t CheckAgain = 3;
inline constexpr std::int32_t AddUnderOtherName = 4;  // "name(1).ext", "name(2).ext", ... without asking again
}  // namespace ConflictAnswer

// Answers of IUpdatePasswordProvider::GetPassword.
namespace UpdatePasswordAnswer {
inline constexpr std::int32_t Use = 0;
inline constexpr std::int32_t Cancel = 1;
inline constexpr std::int32_t NoPassword = 2;
}  // namespace UpdatePasswordAnswer

// Implemented by the caller for content to add; the object also implements IFileSystemProperties,
// whose Path (components joined with "/"; empty and "." components stand for nothing), Size, DateModified and IsFolder describe the
// new entry, and may implement IPosixFileProperties.
struct IArchiveAddable : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IArchiveAddable");
    static constexpr const char* name = "Zorvik.IArchiveAddable";
    // Asked only for files, once each time the engine reads the content; a null stream fails the update.
    virtual HRESULT GetContentStream(IRandomAccessStream** stream) = 0;
};

// Optional on an IArchiveAddable: the POSIX mode the entry keeps (type and permission bits),
// and whether it is a symbolic link. A link is stored as the format keeps links: in tar as a
// link header, in 7z and zip as an entry whose data is the target and whose mode says S_IFLNK.
// Its content stream is never asked for.
struct IPosixFileProperties : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IPosixFileProperties");
    static constexpr const char* name = "Zorvik.IPosixFileProperties";
    // 0 when unknown: the format's own default applies. A mode of type S_IFLNK needs a target.
    virtual HRESULT get_Mode(std::uint32_t* value) = 0;
    // The target of a symbolic link as it is to be stored ("/" between components); empty for
    // an entry that is no link. A target makes the entry a link whatever Mode says.
    virtual HRESULT get_SymbolicLinkTarget(HSTRING* value) = 0;
};

// Optional on the destination stream of an update: the stream takes its bytes only in the
// order they come and cannot go back (a pipe, standard output). The engine then writes without
// seeking, which tar, zip, gzip, bzip2 and xz can; a format that cannot (7z, wim) fails the
// update with E_NOTIMPL before it writes anything. A marker: it has no members of its own.
struct ISequentialDestination : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.ISequentialDestination");
    static constexpr const char* name = "Zorvik.ISequentialDestination";
};

struct IUpdateCallback : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IUpdateCallback");
    static constexpr const char* name = "Zorvik.IUpdateCallback";
    // item is to be written where existing is; answer with a ConflictAnswer value.
    virtual HRESULT ResolveConflict(IFileSystemProperties* item, IArchiveItem* existing, std::int32_t* answer) = 0;
    // existing is a file standing where a folder is needed; the update ends as cancelled.
    virtual HRESULT PathBlocked(IArchiveItem* existing) = 0;
};

struct IUpdatePasswordProvider : IInspectable {
    static constexpr GUID iid{0x053894C0, 0x7069, 0x3DC6, {0xB4, 0xED, 0xFB, 0x6C, 0xD0, 0xD8, 0xB5, 0x09}};
    static constexpr const char* name = "Zorvik.IUpdatePasswordProvider";
    // Asked at most once per update; answer with an UpdatePasswordAnswer value.
    virtual HRESULT GetPassword(HSTRING* password, std::int32_t* answer) = 0;
};

}  // namespace Zorvik
