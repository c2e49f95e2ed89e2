// The ArchiveEntryProperties runtime class: one entry's properties, read once from the handler.
#pragma once

#include <memory>
#include <string_view>

#include "Zorvik/Items.h"
#include "Zorvik/PosixProperties.h"
#include "engine/EngineInterfaces.h"
#include "module/ComponentObject.h"

namespace Zorvik {

class Archive;

class ArchiveEntryProperties final
    : public Impl::ComponentObject<ArchiveEntryProperties, IArchiveEntryProperties, IFileSystemProperties,
                                   __IArchiveEntryPropertiesPublicNonVirtuals, IPosixEntryProperties> {
public:
    static constexpr const char* runtime_class_name = "Zorvik.ArchiveEntryProperties";
    static constexpr const char* FactoryName = "Zorvik.__ArchiveEntryPropertiesActivationFactory";

    // Reads entry `index` of the archive's open handler (taken under its Lock).
    ArchiveEntryProperties(Archive& archive, std::uint32_t index);
    // Reads entry `index` of `handler`; failed reads leave their field at its default.
    ArchiveEntryProperties(Engine::IInArchive* handler, std::uint32_t index);

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

    // For the tree, extraction and update.
    std::uint32_t Index() const noexcept { return index_; }
    std::wstring_view Path() const noexcept { return {path_.get(), pathLength_}; }
    std::uint64_t Size() const noexcept { return size_; }
    bool IsFolder() const noexcept { return isFolder_; }

private:
    void Read(Engine::IInArchive* handler);
    void ReadPosixProperties(Engine::IInArchive* handler);

    struct LinkTargets {
        std::wstring symbolic;
        std::wstring hard;
    };

    std::uint32_t index_;
    std::uint32_t pathLength_ = 0;
    std::unique_ptr<wchar_t[]> path_;  // kept small: a tree holds one of these per entry
    std::uint64_t size_ = 0;
    std::uint64_t packedSize_ = 0;
    std::int64_t created_ = 0;
    std::int64_t accessed_ = 0;
    std::int64_t modified_ = 0;
    bool isFolder_ = false;
    bool isEncrypted_ = false;
    std::uint32_t mode_ = 0;
    std::unique_ptr<LinkTargets> links_;  // links only
};

}  // namespace Zorvik
