// The ArchiveEntryProperties runtime class: one entry's properties, read once from the handler
// into the item tree's record of the entry, which this object presents.
#pragma once

#include <memory>
#include <string>

#include "base/ComponentObject.h"
#include "engine/EngineInterfaces.h"
#include "model/TextArena.h"
#include "zorvik/EntryIndex.h"
#include "zorvik/Items.h"
#include "zorvik/PosixProperties.h"

namespace Zorvik {

namespace Impl {

class PackedTree;

// What the handler says of one entry; a directory always reads as empty and unencrypted.
struct EntryProperties {
    std::uint32_t Index = 0;
    PackedText Path;
    bool IsFolder = false;
    bool IsEncrypted = false;
    std::uint64_t Size = 0;
    std::uint64_t PackedSize = 0;
    std::int64_t Modified = 0;
    std::int64_t Created = 0;
    std::int64_t Accessed = 0;
    // Type and permission bits as st_mode holds them; 0 when the archive records none.
    std::uint16_t Mode = 0;
    PackedText SymbolicLink;
    PackedText HardLink;
};

// Reads entry `index` of handler, keeping its path in text; failed reads leave their field at
// its default.
EntryProperties ReadEntryProperties(Engine::IInArchive* handler, std::uint32_t index, TextArena& text);

}  // namespace Impl

class ArchiveEntryProperties final
    : public Impl::ComponentObject<ArchiveEntryProperties, IArchiveEntryProperties, IFileSystemProperties,
                                   __IArchiveEntryPropertiesPublicNonVirtuals, IPosixEntryProperties, IArchiveEntryIndex> {
public:
    static constexpr const char* runtime_class_name = "Zorvik.ArchiveEntryProperties";
    static constexpr const char* FactoryName = "Zorvik.__ArchiveEntryPropertiesActivationFactory";

    // The properties of a node of tree that stands for an entry.
    ArchiveEntryProperties(std::shared_ptr<Impl::PackedTree> tree, std::uint32_t node);
    // Reads entry `index` of `handler`; failed reads leave their field at its default.
    ArchiveEntryProperties(Engine::IInArchive* handler, std::uint32_t index);
    ~ArchiveEntryProperties() override;

    HRESULT get_PackedSize(std::uint64_t* value) override;
    HRESULT get_Path(HSTRING* value) override;
    HRESULT get_Size(std::uint64_t* value) override;
    HRESULT get_DateModified(DateTime* value) override;
    HRESULT get_DateCreated(DateTime* value) override;
    HRESULT get_DateAccessed(DateTime* value) override;
    HRESULT get_IsFolder(bool* value) override;
    HRESULT get_IsEncrypted(bool* value) override;
    HRESULT get_Mode(std::uint32_t* value) override;
    HRESULT get_SymbolicLinkTarget(HSTRING* value) override;
    HRESULT get_HardLinkTarget(HSTRING* value) override;
    HRESULT get_Index(std::uint32_t* value) override;

    // For extraction and update.
    std::uint32_t Index() const noexcept;
    std::wstring Path() const;
    std::uint64_t Size() const noexcept;
    bool IsFolder() const noexcept;
    // The tree whose entry this is.
    const Impl::PackedTree* Tree() const noexcept { return tree_.get(); }

private:
    // A tree of its own holding the one entry read, as its first node.
    static constexpr std::uint32_t kDetachedNode = 1;
    static std::shared_ptr<Impl::PackedTree> DetachedTree(Engine::IInArchive* handler, std::uint32_t index);

    const std::shared_ptr<Impl::PackedTree> tree_;
    const std::uint32_t node_;
};

}  // namespace Zorvik
