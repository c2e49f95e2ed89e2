#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "model/Sorter.h"
#include "model/tests/FakeHandler.h"
#include "model/tests/TreeTesting.h"

namespace Zorvik::Testing {
namespace {

using zorvik::rt::make;
using ItemVector = IVector<IArchiveItem*>;

// Orders by the part of the name before '#', so that equal keys tell apart by the rest.
HRESULT ByKey(IArchiveItem* first, IArchiveItem* second, bool* result) {
    const auto key = [](IArchiveItem* item) {
        const std::wstring name = NameOf(com_ptr<IArchiveItem>::copy_from(item));
        return name.substr(0, name.find(L'#'));
    };
    *result = key(first) < key(second);
    return S_OK;
}

// A root folder holding files with the given names, in that order.
com_ptr<IArchiveFolder> FolderOf(const std::vector<std::wstring>& names, com_ptr<Archive>& archive) {
    std::vector<FakeEntry> entries;
    for (const auto& name : names) entries.push_back(name.ends_with(L"/") ? FolderEntry(name.substr(0, name.size() - 1)) : FileEntry(name));
    archive = ArchiveOver(make<FakeHandler>(entries));
    return RootOf(archive.get());
}

// Forwards to a vector and counts the writes.
class CountingVector final : public zorvik::rt::implements<CountingVector, ItemVector> {
public:
    explicit CountingVector(com_ptr<ItemVector> inner) : inner_(std::move(inner)) {}
    HRESULT GetAt(std::uint32_t index, IArchiveItem** item) override { return inner_->GetAt(index, item); }
    HRESULT get_Size(std::uint32_t* size) override { return inner_->get_Size(size); }
    HRESULT GetView(ABI::Windows::Foundation::Collections::IVectorView<IArchiveItem*>** view) override { return inner_->GetView(view); }
    HRESULT IndexOf(IArchiveItem* value, std::uint32_t* index, bool* found) override { return inner_->IndexOf(value, index, found); }
    HRESULT SetAt(std::uint32_t index, IArchiveItem* item) override {
        ++Writes;
        return inner_->SetAt(index, item);
    }
    HRESULT InsertAt(std::uint32_t, IArchiveItem*) override { return E_NOTIMPL; }
    HRESULT RemoveAt(std::uint32_t) override { return E_NOTIMPL; }
    HRESULT Append(IArchiveItem*) override { return E_NOTIMPL; }
    HRESULT RemoveAtEnd() override { return E_NOTIMPL; }
    HRESULT Clear() override { return E_NOTIMPL; }
    HRESULT GetMany(std::uint32_t start, std::uint32_t capacity, IArchiveItem** items, std::uint32_t* actual) override {
        return inner_->GetMany(start, capacity, items, actual);
    }
    HRESULT ReplaceAll(std::uint32_t, IArchiveItem**) override { return E_NOTIMPL; }
    int Writes = 0;

private:
    com_ptr<ItemVector> inner_;
};

TEST(Sorter, MatchesAStableSortAtEverySize) {
    std::mt19937 random(7);
    for (int size : {0, 1, 2, 31, 32, 33, 65, 200, 1500}) {
        std::vector<std::wstring> names;
        for (int i = 0; i < size; ++i) names.push_back(std::to_wstring(random() % 10) + L"#" + std::to_wstring(i));
        com_ptr<Archive> archive;
        auto folder = FolderOf(names, archive);
        auto comparer = make<Comparer>(ByKey);
        ASSERT_EQ(Sorter::Create()->Sort(ItemsVectorOf(folder).as<ItemVector>().get(), comparer.get()), S_OK);
        std::stable_sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
            return a.substr(0, a.find(L'#')) < b.substr(0, b.find(L'#'));
        });
        EXPECT_EQ(NamesOf(ItemsOf(folder)), names) << size << " items";
        if (size < 2) {
            EXPECT_EQ(comparer->Calls, 0);
        }
    }
}

TEST(Sorter, EveryWriteIsOneChangeEventAndOrderedItemsAreNotWritten) {
    com_ptr<Archive> archive;
    std::vector<std::wstring> names;
    for (int i = 0; i < 100; ++i) names.push_back(std::to_wstring(i % 3 == 0 ? 9 : i % 7) + L"#" + std::to_wstring(i));
    names.push_back(L"sub/");
    auto folder = FolderOf(names, archive);
    auto items = ItemsVectorOf(folder);
    std::vector<ABI::Windows::Foundation::Collections::CollectionChange> changes;
    auto handler = zorvik::rt::make_delegate<ABI::Windows::Foundation::Collections::VectorChangedEventHandler<IArchiveItem*>>(
        [&](IObservableVector<IArchiveItem*>*, ABI::Windows::Foundation::Collections::IVectorChangedEventArgs* args) {
            ABI::Windows::Foundation::Collections::CollectionChange change{};
            args->get_CollectionChange(&change);
            changes.push_back(change);
        });
    ABI::Windows::Foundation::EventRegistrationToken token{};
    ASSERT_EQ(items->add_VectorChanged(handler.get(), &token), S_OK);
    const auto filesBefore = NamesOf(FilesOf(folder));

    // Folders first, then by key.
    auto comparer = make<Comparer>([](IArchiveItem* a, IArchiveItem* b, bool* result) {
        const bool folderA = bool(com_ptr<IArchiveItem>::copy_from(a).try_as<IArchiveFolder>());
        const bool folderB = bool(com_ptr<IArchiveItem>::copy_from(b).try_as<IArchiveFolder>());
        if (folderA != folderB) {
            *result = folderA;
            return S_OK;
        }
        return ByKey(a, b, result);
    });
    auto counting = make<CountingVector>(items.as<ItemVector>());
    ASSERT_EQ(Sorter::Create()->Sort(counting.get(), comparer.get()), S_OK);
    EXPECT_GT(counting->Writes, 0);
    EXPECT_EQ(changes.size(), std::size_t(counting->Writes));
    EXPECT_TRUE(std::all_of(changes.begin(), changes.end(),
                            [](auto c) { return c == ABI::Windows::Foundation::Collections::CollectionChange::ItemChanged; }));
    EXPECT_EQ(NamesOf(ItemsOf(folder)).front(), L"sub");
    EXPECT_EQ(NamesOf(FilesOf(folder)), filesBefore) << "Files keeps the order of the archive";
    EXPECT_EQ(FoldersOf(folder).size(), 1u);

    changes.clear();
    counting->Writes = 0;
    ASSERT_EQ(Sorter::Create()->Sort(counting.get(), comparer.get()), S_OK);
    EXPECT_EQ(counting->Writes, 0) << "sorting sorted items changes nothing";
    EXPECT_TRUE(changes.empty());
}

TEST(Sorter, AComparerFailureEndsTheSortWithThatFailure) {
    com_ptr<Archive> archive;
    std::vector<std::wstring> names;
    for (int i = 0; i < 100; ++i) names.push_back(std::to_wstring(99 - i));
    auto folder = FolderOf(names, archive);
    auto comparer = make<Comparer>([calls = 0](IArchiveItem*, IArchiveItem*, bool* result) mutable {
        *result = true;
        return ++calls == 10 ? E_ACCESSDENIED : S_OK;
    });
    EXPECT_EQ(Sorter::Create()->Sort(ItemsVectorOf(folder).as<ItemVector>().get(), comparer.get()), E_ACCESSDENIED);
    EXPECT_EQ(comparer->Calls, 10) << "no comparison after the failure";
    EXPECT_EQ(ItemsOf(folder).size(), 100u);
}

}  // namespace
}  // namespace Zorvik::Testing
