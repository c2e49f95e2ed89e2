// The ArchiveFile runtime class: a file node of the tree.
#pragma once

#include "base/ComponentObject.h"
#include "model/ArchiveItem.h"
#include "zorvik/Items.h"

namespace Zorvik {

class ArchiveFile final : public Impl::ComponentObject<ArchiveFile, IArchiveFile, IArchiveItem> {
public:
    static constexpr const char* runtime_class_name = "Zorvik.ArchiveFile";
    static constexpr const char* FactoryName = "Zorvik.__ArchiveFileActivationFactory";

    ArchiveFile(std::shared_ptr<Impl::PackedTree> tree, std::uint32_t node) noexcept : item_(std::move(tree), node) {}
    ~ArchiveFile() override { item_.Tree().Forget(item_.Node(), this); }

    HRESULT get_Properties(IArchiveEntryProperties** value) override { return item_.GetProperties(value); }
    HRESULT get_Name(HSTRING* value) override { return item_.GetName(value); }
    HRESULT get_Path(HSTRING* value) override { return item_.GetPath(value); }
    HRESULT get_Parent(IArchiveFolder** value) override { return item_.GetParent(value); }
    HRESULT GetRelativePath(IArchiveFolder* ancestor, HSTRING* path) override { return item_.GetRelativePath(ancestor, path); }

    const ArchiveItem& Item() const noexcept { return item_; }

private:
    ArchiveItem item_;
};

}  // namespace Zorvik
