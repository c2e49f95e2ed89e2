// Reading item trees through the public ABI, and caller-side progress and comparer objects.
#pragma once

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "zorvik/Archive.h"
#include "zorvik/Items.h"
#include "zorvik/runtime/async.h"
#include "zorvik/runtime/collections.h"

namespace Zorvik::Testing {

using zorvik::rt::com_ptr;

// Progress that records what it hears and answers through a hook (0 unless told otherwise).
class ProgressRecorder final : public zorvik::rt::implements<ProgressRecorder, IOperationProgress> {
public:
    HRESULT SetItemCount(std::uint32_t) override { return S_OK; }
    HRESULT SetTotal(std::uint64_t total, std::int32_t* answer) override {
        Totals.push_back(total);
        *answer = AnswerTotal;
        return S_OK;
    }
    HRESULT SetCompleted(std::uint64_t completed, std::int32_t* answer) override {
        Completed.push_back(completed);
        *answer = CancelAt && completed == *CancelAt ? 1 : 0;
        return S_OK;
    }

    std::vector<std::uint64_t> Totals;
    std::vector<std::uint64_t> Completed;
    std::int32_t AnswerTotal = 0;
    std::optional<std::uint64_t> CancelAt;
};

class Comparer final : public zorvik::rt::implements<Comparer, IArchiveItemComparer> {
public:
    explicit Comparer(std::function<HRESULT(IArchiveItem*, IArchiveItem*, bool*)> precedes) : precedes_(std::move(precedes)) {}
    HRESULT Precedes(IArchiveItem* first, IArchiveItem* second, bool* result) override {
        ++Calls;
        return precedes_(first, second, result);
    }
    int Calls = 0;

private:
    std::function<HRESULT(IArchiveItem*, IArchiveItem*, bool*)> precedes_;
};

inline com_ptr<IAsyncOperation<IArchiveFolder*>> StartTree(IArchive* archive, IOperationProgress* progress = nullptr) {
    com_ptr<IAsyncOperation<IArchiveFolder*>> operation;
    zorvik::rt::check_hresult(archive->GetRootFolderAsync(progress, operation.put()));
    return operation;
}

inline com_ptr<IArchiveFolder> RootOf(IArchive* archive, IOperationProgress* progress = nullptr) {
    return zorvik::rt::get(StartTree(archive, progress));
}

template <typename I>
std::wstring NameOf(const com_ptr<I>& node) {
    zorvik::rt::hstring name;
    zorvik::rt::check_hresult(node.template as<IArchiveItem>()->get_Name(name.put()));
    return std::wstring(name.view());
}

template <typename I>
std::wstring PathOf(const com_ptr<I>& node) {
    zorvik::rt::hstring path;
    zorvik::rt::check_hresult(node.template as<IArchiveItem>()->get_Path(path.put()));
    return std::wstring(path.view());
}

template <typename I>
com_ptr<IArchiveEntryProperties> PropertiesOf(const com_ptr<I>& node) {
    com_ptr<IArchiveEntryProperties> properties;
    zorvik::rt::check_hresult(node.template as<IArchiveItem>()->get_Properties(properties.put()));
    return properties;
}

inline std::vector<com_ptr<IArchiveFolder>> FoldersOf(const com_ptr<IArchiveFolder>& folder) {
    com_ptr<IVector<IArchiveFolder*>> folders;
    zorvik::rt::check_hresult(folder->get_Folders(folders.put()));
    return zorvik::rt::to_std_vector(folders.get());
}

inline std::vector<com_ptr<IArchiveFile>> FilesOf(const com_ptr<IArchiveFolder>& folder) {
    com_ptr<IVector<IArchiveFile*>> files;
    zorvik::rt::check_hresult(folder->get_Files(files.put()));
    return zorvik::rt::to_std_vector(files.get());
}

inline com_ptr<IObservableVector<IArchiveItem*>> ItemsVectorOf(const com_ptr<IArchiveFolder>& folder) {
    com_ptr<IObservableVector<IArchiveItem*>> items;
    zorvik::rt::check_hresult(folder->get_Items(items.put()));
    return items;
}

inline std::vector<com_ptr<IArchiveItem>> ItemsOf(const com_ptr<IArchiveFolder>& folder) {
    return zorvik::rt::to_std_vector(ItemsVectorOf(folder).as<IVector<IArchiveItem*>>().get());
}

template <typename Nodes>
std::vector<std::wstring> NamesOf(const Nodes& nodes) {
    std::vector<std::wstring> names;
    for (const auto& node : nodes) names.push_back(NameOf(node));
    return names;
}

inline com_ptr<IArchiveFolder> FolderNamed(const com_ptr<IArchiveFolder>& folder, std::wstring_view name) {
    for (auto& sub : FoldersOf(folder))
        if (NameOf(sub) == name) return sub;
    return nullptr;
}

// Every node below folder as "path" for files and "path/" for folders, paths relative to the
// root joined with '/', in tree order (folders by name, then files in order).
template <typename I>
std::string RelativePathOf(const com_ptr<I>& node) {
    zorvik::rt::hstring relative;
    zorvik::rt::check_hresult(node.template as<IArchiveItem>()->GetRelativePath(nullptr, relative.put()));
    return zorvik::rt::to_utf8(relative.view());
}

inline void Describe(const com_ptr<IArchiveFolder>& folder, std::vector<std::string>& out) {
    for (const auto& sub : FoldersOf(folder)) {
        out.push_back(RelativePathOf(sub) + "/");
        Describe(sub, out);
    }
    for (const auto& file : FilesOf(folder)) out.push_back(RelativePathOf(file));
}

inline std::vector<std::string> Describe(const com_ptr<IArchiveFolder>& root) {
    std::vector<std::string> out;
    Describe(root, out);
    return out;
}

}  // namespace Zorvik::Testing
