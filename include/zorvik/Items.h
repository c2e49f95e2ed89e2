// The component's public ABI: the item tree of an opened archive, the properties of its
// entries, and sorting a folder's items in an order the caller chooses.
#pragma once

#include "zorvik/runtime/collections_abi.h"

namespace ABI::Windows::Foundation {
// The platform's date-time: 100-nanosecond ticks since 1601-01-01 UTC, the same count as a
// FILETIME. 0 stands for a time the archive does not record.
struct DateTime {
    std::int64_t UniversalTime;
};
}  // namespace ABI::Windows::Foundation

namespace Zorvik {

using ABI::Windows::Foundation::DateTime;
using ABI::Windows::Foundation::Collections::IObservableVector;
using ABI::Windows::Foundation::Collections::IVector;

// What an archive's tree holds at most. Beyond it, GetRootFolderAsync fails: with kTooManyEntries
// when the entries and the folders their paths imply number more than kMostTreeNodes, with
// kPathTooLong when an entry's path is longer than kLongestEntryPath characters. Folder depth
// has no limit of its own: a path of kLongestEntryPath characters names at most half as many.
inline constexpr std::uint32_t kMostTreeNodes = 1u << 26;
inline constexpr std::uint32_t kLongestEntryPath = 1u << 20;
inline constexpr HRESULT kTooManyEntries = HRESULT_FROM_WIN32(1816);  // ERROR_NOT_ENOUGH_QUOTA
inline constexpr HRESULT kPathTooLong = HRESULT_FROM_WIN32(206);      // ERROR_FILENAME_EXCED_RANGE

// File-system style description of an archive entry, or of something a caller adds.
struct IFileSystemProperties : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IFileSystemProperties");
    static constexpr const char* name = "Zorvik.IFileSystemProperties";
    virtual HRESULT get_Path(HSTRING* value) = 0;
    virtual HRESULT get_Size(std::uint64_t* value) = 0;
    virtual HRESULT get_DateModified(DateTime* value) = 0;
    virtual HRESULT get_DateCreated(DateTime* value) = 0;
    virtual HRESULT get_DateAccessed(DateTime* value) = 0;
    virtual HRESULT get_IsFolder(bool* value) = 0;
};

// Default interface of ArchiveEntryProperties; the object also answers IFileSystemProperties.
struct IArchiveEntryProperties : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IArchiveEntryProperties");
    static constexpr const char* name = "Zorvik.IArchiveEntryProperties";
    virtual HRESULT get_PackedSize(std::uint64_t* value) = 0;
};

// ArchiveEntryProperties' own member.
struct __IArchiveEntryPropertiesPublicNonVirtuals : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.__IArchiveEntryPropertiesPublicNonVirtuals");
    static constexpr const char* name = "Zorvik.__IArchiveEntryPropertiesPublicNonVirtuals";
    virtual HRESULT get_IsEncrypted(bool* value) = 0;
};

struct IArchiveFolder;

// What every node of the tree offers.
struct IArchiveItem : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IArchiveItem");
    static constexpr const char* name = "Zorvik.IArchiveItem";
    // Null for the root and for folders that no entry names.
    virtual HRESULT get_Properties(IArchiveEntryProperties** value) = 0;
    virtual HRESULT get_Name(HSTRING* value) = 0;
    // The entry's path as the archive holds it, or the node's place joined with "/".
    virtual HRESULT get_Path(HSTRING* value) = 0;
    // Null for the root, and once nobody holds the parent any more.
    virtual HRESULT get_Parent(IArchiveFolder** value) = 0;
    // Components below ancestor joined with "/" (a backslash is part of a name); a null ancestor means the root.
    virtual HRESULT GetRelativePath(IArchiveFolder* ancestor, HSTRING* path) = 0;
};

// Marker of a file node.
struct IArchiveFile : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IArchiveFile");
    static constexpr const char* name = "Zorvik.IArchiveFile";
};

struct IArchiveFolder : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IArchiveFolder");
    static constexpr const char* name = "Zorvik.IArchiveFolder";
    // A new vector of the sub-folders, ordered by name without regard to case.
    virtual HRESULT get_Folders(IVector<IArchiveFolder*>** value) = 0;
    // A new vector of the files, in the order the archive lists them.
    virtual HRESULT get_Files(IVector<IArchiveFile*>** value) = 0;
    // The folder's own vector of all children in the order they were added; the same object on
    // every call, which callers may reorder and watch.
    virtual HRESULT get_Items(IObservableVector<IArchiveItem*>** value) = 0;
};

// Implemented by the caller: the order Sorter arranges items in.
struct IArchiveItemComparer : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IArchiveItemComparer");
    static constexpr const char* name = "Zorvik.IArchiveItemComparer";
    // True when first must come before second: a strict weak ordering.
    virtual HRESULT Precedes(IArchiveItem* first, IArchiveItem* second, bool* result) = 0;
};

// Default interface of Sorter.
struct ISorter : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.ISorter");
    static constexpr const char* name = "Zorvik.ISorter";
    // A stable sort in place, through the vector's own GetAt and SetAt.
    virtual HRESULT Sort(IVector<IArchiveItem*>* items, IArchiveItemComparer* comparer) = 0;
};

}  // namespace Zorvik
