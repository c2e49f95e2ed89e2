// The ArchiveFolder runtime class: a folder node of the tree, holding its children strongly.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "Zorvik/Items.h"
#include "model/ArchiveFile.h"
#include "model/ArchiveItem.h"
#include "model/NameOrder.h"
#include "module/ComponentObject.h"
#include "zorvik/runtime/collections.h"

namespace Zorvik {

class ArchiveFolder final : public Impl::ComponentObject<ArchiveFolder, IArchiveFolder, IArchiveItem> {
public:
    static constexpr const char* runtime_class_name = "Zorvik.ArchiveFolder";
    static constexpr const char* FactoryName = "Zorvik.__ArchiveFolderActivationFactory";

    ArchiveFolder(std::wstring_view name, zorvik::rt::com_ptr<ArchiveEntryProperties> properties);
    ~ArchiveFolder() override;

    HRESULT get_Folders(IVector<IArchiveFolder*>** value) override;
    HRESULT get_Files(IVector<IArchiveFile*>** value) override;
    HRESULT get_Items(IObservableVector<IArchiveItem*>** value) override;

    HRESULT get_Properties(IArchiveEntryProperties** value) override { return item_.GetProperties(value); }
    HRESULT get_Name(HSTRING* value) override { return item_.GetName(value); }
    HRESULT get_Path(HSTRING* value) override { return item_.GetPath(value); }
    HRESULT get_Parent(IArchiveFolder** value) override { return item_.GetParent(value); }
    HRESULT GetRelativePath(IArchiveFolder* ancestor, HSTRING* path) override { return item_.GetRelativePath(ancestor, path); }

    const ArchiveItem& Item() const noexcept { return item_; }
    void SetParent(ArchiveFolder& parent) { item_.SetParent(parent); }

    // For the tree builder. The sub-folder of that name, made without properties when absent.
    ArchiveFolder& FolderNamed(std::wstring_view name);
    // Adds a folder for a directory entry; when one of that name (in any case) exists already,
    // it keeps its name and takes the properties only if it had none.
    void AddFolder(std::wstring_view name, zorvik::rt::com_ptr<ArchiveEntryProperties> properties);
    // Files of equal names are all kept.
    void AddFile(zorvik::rt::com_ptr<ArchiveFile> file);

    struct FileTotals {
        std::uint64_t Count = 0;
        std::uint64_t Size = 0;
    };
    // The file entries of the whole tree below, each node visited once.
    FileTotals Totals() const;

private:
    // Keyed by a view of each folder's own name, which stays put as long as the folder lives.
    using SubfolderMap = std::map<std::wstring_view, zorvik::rt::com_ptr<ArchiveFolder>, Impl::NameOrder>;

    ArchiveFolder& Adopt(SubfolderMap::iterator place, std::wstring_view name, zorvik::rt::com_ptr<ArchiveEntryProperties> properties);
    void AppendItem(IArchiveItem* child);

    ArchiveItem item_;
    SubfolderMap subfolders_;
    std::vector<zorvik::rt::com_ptr<ArchiveFile>> files_;
    zorvik::rt::com_ptr<zorvik::rt::observable_vector<IArchiveItem*>> items_;
};

}  // namespace Zorvik
