#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "model/ArchiveFolder.h"
#include "model/tests/FakeHandler.h"
#include "model/tests/TreeTesting.h"

namespace Zorvik::Testing {
namespace {

using zorvik::rt::make;

HRESULT TreeFailure(IArchive* archive) {
    try {
        RootOf(archive);
        return S_OK;
    } catch (const zorvik::rt::hresult_error& error) {
        return error.code();
    }
}

TEST(ItemTree, ShapesThatOnlyAHandlerCanReport) {
    auto handler = make<FakeHandler>(std::vector{FileEntry(L"x", 1), FolderEntry(L"x"), FileEntry(L"dir/"), FolderEntry(L"/"),
                                                 FileEntry(L"//lead/y.txt"), FolderEntry(L"lead"), FileEntry(L"\\back\\slash")});
    auto archive = ArchiveOver(handler);
    auto root = RootOf(archive.get());
    EXPECT_EQ(Describe(root), (std::vector<std::string>{"//", "dir/", "dir/", "lead/", "lead/y.txt", "x/", "x", "\\back\\slash"}));
    EXPECT_EQ(NamesOf(ItemsOf(root)), (std::vector<std::wstring>{L"x", L"x", L"dir", L"/", L"lead", L"\\back\\slash"}))
        << "a file and a folder of one name both stay, and a backslash is part of a name";
    auto dir = FolderNamed(root, L"dir");
    EXPECT_EQ(NamesOf(FilesOf(dir)), std::vector<std::wstring>{L""}) << "a trailing separator names the entry with nothing";
    EXPECT_EQ(PathOf(FilesOf(dir)[0]), L"dir/");
    EXPECT_TRUE(PropertiesOf(FolderNamed(root, L"lead"))) << "the implicit folder takes the properties of the later entry";
}

TEST(ItemTree, NodesKeepTheirObjectsWhileHeldAndAChangedOrderWhileTheArchiveHasTheTree) {
    auto archive = ArchiveOver(make<FakeHandler>(std::vector{FileEntry(L"d/a"), FileEntry(L"d/b"), FileEntry(L"d/c"), FileEntry(L"e")}));
    auto root = RootOf(archive.get());
    auto d = FolderNamed(root, L"d");
    EXPECT_EQ(ItemsOf(root).at(0).get(), d.as<IArchiveItem>().get()) << "Folders and Items hand out one object";
    auto b = ItemsOf(d).at(1);
    EXPECT_EQ(ItemsOf(d).at(1).get(), b.get());
    com_ptr<IArchiveFolder> parent;
    ASSERT_EQ(b->get_Parent(parent.put()), S_OK);
    EXPECT_EQ(parent.get(), d.get());
    std::uint32_t index = 0;
    bool found = false;
    ASSERT_EQ(ItemsVectorOf(d).as<IVector<IArchiveItem*>>()->IndexOf(b.get(), &index, &found), S_OK);
    EXPECT_TRUE(found);
    EXPECT_EQ(index, 1u);

    auto items = ItemsVectorOf(d).as<IVector<IArchiveItem*>>();
    ASSERT_EQ(items->RemoveAt(0), S_OK);
    ASSERT_EQ(items->Append(ItemsOf(root).at(1).get()), S_OK);
    const std::vector<std::wstring> changed{L"b", L"c", L"e"};
    items = nullptr;
    d = parent = nullptr;
    b = nullptr;
    EXPECT_EQ(NamesOf(ItemsOf(FolderNamed(root, L"d"))), changed) << "a changed order outlives the objects that showed it";
    EXPECT_EQ(NamesOf(FilesOf(FolderNamed(root, L"d"))), (std::vector<std::wstring>{L"a", L"b", L"c"})) << "Files keep the archive's order";
}

TEST(ItemTree, ThreadsWalkingOneTreeMeetTheSameObjects) {
    std::vector<FakeEntry> entries;
    for (int i = 0; i < 2000; ++i) entries.push_back(FileEntry(L"d" + std::to_wstring(i % 20) + L"/f" + std::to_wstring(i)));
    auto archive = ArchiveOver(make<FakeHandler>(entries));
    auto root = RootOf(archive.get());
    std::vector<std::thread> walkers;
    std::atomic<int> mismatches = 0;
    for (int t = 0; t < 4; ++t) {
        walkers.emplace_back([&] {
            for (int round = 0; round < 2; ++round) {
                for (const auto& folder : FoldersOf(root)) {
                    for (const auto& item : ItemsOf(folder)) {
                        com_ptr<IArchiveFolder> parent;
                        std::uint32_t index = 0;
                        bool found = false;
                        if (item->get_Parent(parent.put()) != S_OK || parent.get() != folder.get() ||
                            ItemsVectorOf(folder).as<IVector<IArchiveItem*>>()->IndexOf(item.get(), &index, &found) != S_OK || !found ||
                            !PropertiesOf(item))
                            ++mismatches;
                    }
                }
            }
        });
    }
    for (auto& walker : walkers) walker.join();
    EXPECT_EQ(mismatches, 0);
}

TEST(ItemTree, NamesInAnyScriptAndTimesOnlySomeEntriesHave) {
    zorvik::rt::prop_variant created;
    created.set_filetime(FILETIME{5, 1});
    auto archive = ArchiveOver(make<FakeHandler>(std::vector{FileEntry(L"caf\u00e9/\u65e5\u672c.txt"), FileEntry(L"docs/\U0001F600"),
                                                             FolderEntry(L"DOCS").Set(Engine::kpidCTime, created)}));
    auto root = RootOf(archive.get());
    EXPECT_EQ(Describe(root), (std::vector<std::string>{"caf\xc3\xa9/", "caf\xc3\xa9/\xe6\x97\xa5\xe6\x9c\xac.txt", "DOCS/", "docs/",
                                                        "docs/\xf0\x9f\x98\x80"}));
    auto docs = FolderNamed(root, L"docs");
    EXPECT_FALSE(PropertiesOf(docs)) << "a directory entry in another case names another folder";
    DateTime time{};
    ASSERT_EQ(PropertiesOf(FolderNamed(root, L"DOCS")).as<IFileSystemProperties>()->get_DateCreated(&time), S_OK);
    EXPECT_EQ(time.UniversalTime, (std::int64_t(1) << 32) + 5);
    ASSERT_EQ(PropertiesOf(FilesOf(docs).at(0)).as<IFileSystemProperties>()->get_DateCreated(&time), S_OK);
    EXPECT_EQ(time.UniversalTime, 0);
}

TEST(ItemTree, ANamelessEntryOfAVolumeLosesTheNumberAndTheCompressionExtension) {
    auto archive = ArchiveOver(make<FakeHandler>(std::vector{FakeEntry()}), true, L"backup.tar.bz2.001");
    EXPECT_EQ(NamesOf(ItemsOf(RootOf(archive.get()))), std::vector<std::wstring>{L"backup.tar"});
}

TEST(ItemTree, ProgressCountsHandledEntriesAndACancelKeepsThePartBuilt) {
    std::vector<FakeEntry> entries;
    for (int i = 0; i < 10; ++i) entries.push_back(i == 2 ? FakeEntry() : FileEntry(L"f" + std::to_wstring(i), 100));
    auto archive = ArchiveOver(make<FakeHandler>(entries));
    auto progress = make<ProgressRecorder>();
    progress->CancelAt = 5;
    EXPECT_EQ(zorvik::rt::wait(StartTree(archive.get(), progress.get()).get()), ABI::Windows::Foundation::AsyncStatus::Canceled);
    EXPECT_EQ(progress->Totals, std::vector<std::uint64_t>{10});
    EXPECT_EQ(progress->Completed, (std::vector<std::uint64_t>{0, 1, 2, 3, 4, 5}));

    auto partial = RootOf(archive.get(), progress.get());
    EXPECT_EQ(NamesOf(ItemsOf(partial)), (std::vector<std::wstring>{L"f0", L"f1", L"fake", L"f3", L"f4", L"f5"}))
        << "a nameless entry takes the archive's name";
    EXPECT_EQ(progress->Totals.size(), 1u) << "a stored tree is returned without a new build";
    std::uint64_t files = 0, unpacked = 0;
    ASSERT_EQ(archive->get_FileCount(&files), S_OK);
    ASSERT_EQ(archive->get_UnpackedSize(&unpacked), S_OK);
    EXPECT_EQ(files, 6u);
    EXPECT_EQ(unpacked, 500u);
}

TEST(ItemTree, ACancelBeforeTheFirstEntryStoresNothing) {
    auto archive = ArchiveOver(make<FakeHandler>(std::vector{FileEntry(L"a")}));
    auto progress = make<ProgressRecorder>();
    progress->AnswerTotal = 1;
    EXPECT_EQ(zorvik::rt::wait(StartTree(archive.get(), progress.get()).get()), ABI::Windows::Foundation::AsyncStatus::Canceled);
    EXPECT_FALSE(archive->RootFolder);
    EXPECT_EQ(NamesOf(ItemsOf(RootOf(archive.get()))), std::vector<std::wstring>{L"a"});
}

TEST(ItemTree, WithoutAnOpenHandlerOrWithAFailingOneNoTreeIsStored) {
    auto closed = Archive::Create();
    EXPECT_EQ(TreeFailure(closed.get()), E_ILLEGAL_METHOD_CALL);
    EXPECT_FALSE(closed->RootFolder);

    auto handler = make<FakeHandler>(std::vector{FileEntry(L"a")});
    handler->FailCount = E_OUTOFMEMORY;
    auto failing = ArchiveOver(handler);
    EXPECT_EQ(TreeFailure(failing.get()), E_OUTOFMEMORY);
    EXPECT_FALSE(failing->RootFolder);
}

TEST(ItemTree, ANewArchiveHasAnEmptyRoot) {
    auto archive = ArchiveOver(make<FakeHandler>(std::vector{FileEntry(L"a")}));
    archive->IsNew = true;
    EXPECT_TRUE(ItemsOf(RootOf(archive.get())).empty());
}

TEST(ItemTree, ConcurrentRequestsShareOneCompleteTree) {
    std::vector<FakeEntry> entries;
    for (int i = 0; i < 20000; ++i) entries.push_back(FileEntry(L"d" + std::to_wstring(i % 7) + L"/f" + std::to_wstring(i)));
    auto archive = ArchiveOver(make<FakeHandler>(entries));
    auto first = StartTree(archive.get());
    auto second = StartTree(archive.get());
    auto a = zorvik::rt::get(first), b = zorvik::rt::get(second);
    EXPECT_EQ(a.get(), b.get());
    std::size_t files = 0;
    for (const auto& folder : FoldersOf(b)) files += FilesOf(folder).size();
    EXPECT_EQ(files, 20000u);
}

TEST(ItemTree, AVeryDeepPathBuildsAndIsReleasedWithoutRecursion) {
    constexpr int kDepth = 100000;
    std::wstring path;
    for (int i = 0; i < kDepth; ++i) path += L"d/";
    path += L"leaf";
    auto handler = make<FakeHandler>(std::vector{FileEntry(path)});
    auto archive = ArchiveOver(handler);
    auto root = RootOf(archive.get());
    auto folder = root;
    for (int i = 0; i < kDepth; ++i) folder = FoldersOf(folder).at(0);
    auto leaf = ItemsOf(folder).at(0);
    zorvik::rt::hstring relative;
    ASSERT_EQ(leaf->GetRelativePath(nullptr, relative.put()), S_OK);
    EXPECT_EQ(relative.size(), path.size());
    folder = nullptr;
    root = nullptr;
    archive = nullptr;  // the last reference to the tree goes here
    com_ptr<IArchiveFolder> parent;
    ASSERT_EQ(leaf->get_Parent(parent.put()), S_OK);
    EXPECT_FALSE(parent) << "a child does not keep its folder alive";
}

TEST(ItemTree, APathLongerThanTheLimitFailsTheTree) {
    const std::wstring longest(kLongestEntryPath, L'n');
    EXPECT_EQ(TreeFailure(ArchiveOver(make<FakeHandler>(std::vector{FileEntry(longest)})).get()), S_OK);
    auto archive = ArchiveOver(make<FakeHandler>(std::vector{FileEntry(L"a"), FileEntry(L"d/" + longest)}));
    EXPECT_EQ(TreeFailure(archive.get()), kPathTooLong);
}

TEST(ItemTree, CloseDropsTheTreeAndItsStatistics) {
    auto handler = make<FakeHandler>(std::vector{FileEntry(L"a", 10), FolderEntry(L"b")});
    auto archive = ArchiveOver(handler);
    RootOf(archive.get());
    std::uint64_t files = 0;
    ASSERT_EQ(archive->get_FileCount(&files), S_OK);
    EXPECT_EQ(files, 1u) << "folders are not counted";
    com_ptr<IAsyncOperation<bool>> closing;
    ASSERT_EQ(archive->CloseAsync(closing.put()), S_OK);
    EXPECT_TRUE(zorvik::rt::get(closing));
    EXPECT_FALSE(archive->RootFolder);
    ASSERT_EQ(archive->get_FileCount(&files), S_OK);
    EXPECT_EQ(files, 0u);
    EXPECT_EQ(TreeFailure(archive.get()), E_ILLEGAL_METHOD_CALL);
}

}  // namespace
}  // namespace Zorvik::Testing
