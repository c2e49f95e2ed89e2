// The ArchiveFolder runtime class: a folder node of the tree.
#pragma once

#include "base/ComponentObject.h"
#include "model/ArchiveItem.h"
#include "model/FolderItems.h"
#include "zorvik/Items.h"

namespace Zorvik {

class ArchiveFolder final : public Impl::ComponentObject<ArchiveFolder, IArchiveFolder, IArchiveItem> {
public:
    static constexpr const char* runtime_class_name = "Zorvik.ArchiveFolder";
    static constexpr const char* FactoryName = "Zorvik.__ArchiveFolderActivationFactory";

    ArchiveFolder(std::shared_ptr<Impl::PackedTree> tree, std::uint32_t node) noexcept : item_(std::move(tree), node) {}
    ~ArchiveFolder() override { item_.Tree().Forget(item_.Node(), this); }

    HRESULT get_Folders(IVector<IArchiveFolder*>** value) override;
    HRESULT get_Files(IVector<IArchiveFile*>** value) override;
    HRESULT get_Items(IObservableVector<IArchiveItem*>** value) override;

    HRESULT get_Properties(IArchiveEntryProperties** value) override { return item_.GetProperties(value); }
    HRESULT get_Name(HSTRING* value) override { return item_.GetName(value); }
    HRESULT get_Path(HSTRING* value) override { return item_.GetPath(value); }
    HRESULT get_Parent(IArchiveFolder** value) override { return item_.GetParent(value); }
    HRESULT GetRelativePath(IArchiveFolder* ancestor, HSTRING* path) override { return item_.GetRelativePath(ancestor, path); }

    const ArchiveItem& Item() const noexcept { return item_; }

private:
    ArchiveItem item_;
    // From the first call of get_Items on; set under the tree's lock.
    zorvik::rt::com_ptr<Impl::FolderItems> items_;
};

}  // namespace Zorvik
