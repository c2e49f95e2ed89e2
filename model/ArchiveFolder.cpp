#include "model/ArchiveFolder.h"

#include <algorithm>

#include "model/AbiValues.h"
#include "model/ArchiveFile.h"

namespace Zorvik {

using zorvik::rt::com_ptr;

HRESULT ArchiveFolder::get_Folders(IVector<IArchiveFolder*>** value) {
    return zorvik::rt::boundary([&] {
        zorvik::rt::check_pointer(value);
        Impl::PackedTree& tree = item_.Tree();
        std::vector<std::uint32_t> folders = tree.Children(item_.Node());
        std::erase_if(folders, [&](std::uint32_t child) { return !tree.IsFolder(child); });
        // Sub-folder names differ, and the order tells apart those that differ only in case.
        std::sort(folders.begin(), folders.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return tree.Order()(tree.Name(a), tree.Name(b)); });
        std::vector<com_ptr<IArchiveFolder>> objects;
        objects.reserve(folders.size());
        for (const std::uint32_t folder : folders) objects.emplace_back(tree.Folder(folder));
        *value = zorvik::rt::make_vector<IArchiveFolder*>(std::move(objects)).detach();
    });
}

HRESULT ArchiveFolder::get_Files(IVector<IArchiveFile*>** value) {
    return zorvik::rt::boundary([&] {
        zorvik::rt::check_pointer(value);
        Impl::PackedTree& tree = item_.Tree();
        std::vector<com_ptr<IArchiveFile>> files;
        for (const std::uint32_t child : tree.Children(item_.Node()))
            if (!tree.IsFolder(child)) files.emplace_back(tree.File(child));
        *value = zorvik::rt::make_vector<IArchiveFile*>(std::move(files)).detach();
    });
}

HRESULT ArchiveFolder::get_Items(IObservableVector<IArchiveItem*>** value) {
    return zorvik::rt::boundary([&] {
        zorvik::rt::check_pointer(value);
        *value = item_.Tree().Items(item_.Node(), items_).detach();
    });
}

}  // namespace Zorvik
