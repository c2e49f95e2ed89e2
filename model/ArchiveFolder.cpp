#include "model/ArchiveFolder.h"

#include "model/AbiValues.h"

namespace Zorvik {

using zorvik::rt::com_ptr;

namespace {
// Releasing a folder releases its sub-folders, theirs in turn, and so on: a path of thousands of
// components would recurse as deep and overflow the stack. Folders released while another one
// is being dismantled on this thread park their children here instead, and the outermost
// destructor releases them one by one, so the depth stays constant.
struct DeferredReleases {
    std::vector<com_ptr<ArchiveFolder>> folders;
    std::vector<com_ptr<zorvik::rt::observable_vector<IArchiveItem*>>> itemVectors;
    bool draining = false;
};
thread_local DeferredReleases deferred;
}  // namespace

ArchiveFolder::ArchiveFolder(std::wstring_view name, com_ptr<ArchiveEntryProperties> properties)
    : item_(name, std::move(properties)),
      items_(zorvik::rt::make<zorvik::rt::observable_vector<IArchiveItem*>>()) {}

ArchiveFolder::~ArchiveFolder() {
    DeferredReleases& pending = deferred;
    for (auto& [name, folder] : subfolders_) pending.folders.push_back(std::move(folder));
    pending.itemVectors.push_back(std::move(items_));
    if (pending.draining) return;
    pending.draining = true;
    while (!pending.folders.empty() || !pending.itemVectors.empty()) {
        // Moved out first: releasing may park more children in these vectors.
        if (!pending.itemVectors.empty()) {
            auto vector = std::move(pending.itemVectors.back());
            pending.itemVectors.pop_back();
        } else {
            auto folder = std::move(pending.folders.back());
            pending.folders.pop_back();
        }
    }
    pending.draining = false;
}

ArchiveFolder& ArchiveFolder::FolderNamed(std::wstring_view name) {
    auto place = subfolders_.lower_bound(name);
    if (place != subfolders_.end() && !subfolders_.key_comp()(name, place->first)) return *place->second;
    return Adopt(place, name, nullptr);
}

void ArchiveFolder::AddFolder(std::wstring_view name, com_ptr<ArchiveEntryProperties> properties) {
    auto place = subfolders_.lower_bound(name);
    if (place == subfolders_.end() || subfolders_.key_comp()(name, place->first)) {
        Adopt(place, name, std::move(properties));
        return;
    }
    ArchiveItem& existing = place->second->item_;
    if (!existing.Properties()) existing.SetProperties(std::move(properties));  // the first explicit entry wins
}

ArchiveFolder& ArchiveFolder::Adopt(SubfolderMap::iterator place, std::wstring_view name, com_ptr<ArchiveEntryProperties> properties) {
    auto child = zorvik::rt::make<ArchiveFolder>(name, std::move(properties));
    ArchiveFolder& adopted = *child;
    subfolders_.emplace_hint(place, adopted.item_.Name(), std::move(child));
    adopted.SetParent(*this);
    AppendItem(&adopted);
    return adopted;
}

void ArchiveFolder::AddFile(com_ptr<ArchiveFile> file) {
    ArchiveFile& added = *file;
    files_.push_back(std::move(file));
    added.SetParent(*this);
    AppendItem(&added);
}

void ArchiveFolder::AppendItem(IArchiveItem* child) { zorvik::rt::check_hresult(items_->Append(child)); }

ArchiveFolder::FileTotals ArchiveFolder::Totals() const {
    FileTotals totals;
    const auto count = [&](const ArchiveItem& item) {
        const ArchiveEntryProperties* properties = item.Properties();
        if (properties && !properties->IsFolder()) {
            ++totals.Count;
            totals.Size += properties->Size();
        }
    };
    std::vector<const ArchiveFolder*> pending{this};
    while (!pending.empty()) {
        const ArchiveFolder* folder = pending.back();
        pending.pop_back();
        count(folder->Item());
        for (const auto& file : folder->files_) count(file->Item());
        for (const auto& [name, subfolder] : folder->subfolders_) pending.push_back(subfolder.get());
    }
    return totals;
}

HRESULT ArchiveFolder::get_Folders(IVector<IArchiveFolder*>** value) {
    return zorvik::rt::boundary([&] {
        zorvik::rt::check_pointer(value);
        std::vector<com_ptr<IArchiveFolder>> folders;
        folders.reserve(subfolders_.size());
        for (const auto& [name, folder] : subfolders_) folders.emplace_back(folder);
        *value = zorvik::rt::make_vector<IArchiveFolder*>(std::move(folders)).detach();
    });
}

HRESULT ArchiveFolder::get_Files(IVector<IArchiveFile*>** value) {
    return zorvik::rt::boundary([&] {
        zorvik::rt::check_pointer(value);
        std::vector<com_ptr<IArchiveFile>> files(files_.begin(), files_.end());
        *value = zorvik::rt::make_vector<IArchiveFile*>(std::move(files)).detach();
    });
}

HRESULT ArchiveFolder::get_Items(IObservableVector<IArchiveItem*>** value) { return Impl::GiveReference(items_, value); }

}  // namespace Zorvik
