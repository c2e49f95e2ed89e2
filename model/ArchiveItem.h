// ArchiveItem: what every node of the tree is (name, weak parent, entry properties) and its
// IArchiveItem members, which ArchiveFolder and ArchiveFile forward to. It lives inside its
// node rather than as an object of its own: a tree can hold millions of nodes.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "Zorvik/Items.h"
#include "model/ArchiveEntryProperties.h"

namespace Zorvik {

class ArchiveFolder;

class ArchiveItem {
public:
    // properties may be null: the root and folders that no entry names have none. A name that
    // ends the entry's path is not copied.
    ArchiveItem(std::wstring_view name, zorvik::rt::com_ptr<ArchiveEntryProperties> properties);

    HRESULT GetProperties(IArchiveEntryProperties** value) const noexcept;
    HRESULT GetName(HSTRING* value) const noexcept;
    HRESULT GetPath(HSTRING* value) const noexcept;
    HRESULT GetParent(IArchiveFolder** value) const noexcept;
    HRESULT GetRelativePath(IArchiveFolder* ancestor, HSTRING* path) const noexcept;

    std::wstring_view Name() const noexcept;
    ArchiveEntryProperties* Properties() const noexcept { return properties_.get(); }
    // An implicit folder takes the properties of a directory entry listed after its content.
    void SetProperties(zorvik::rt::com_ptr<ArchiveEntryProperties> properties);
    // Holds the parent weakly: children never keep their folder alive.
    void SetParent(ArchiveFolder& parent);
    // Null for the root and once nobody holds the parent.
    zorvik::rt::com_ptr<ArchiveFolder> Parent() const;
    // Components from below ancestor (or the root) down to this node, joined with backslashes.
    std::wstring RelativePath(const IArchiveFolder* ancestor) const;
    // The entry's path as the handler gave it, else the node's relative path from the root.
    std::wstring Path() const;

private:
    zorvik::rt::com_ptr<IWeakReference> parent_;
    zorvik::rt::com_ptr<ArchiveEntryProperties> properties_;
    std::unique_ptr<const std::wstring> ownName_;  // null when the name ends the entry's path
    std::uint32_t nameOffset_ = 0;                  // where it starts there
};

}  // namespace Zorvik
