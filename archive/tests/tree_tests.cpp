#include <algorithm>
#include <cwctype>

#include "archive/tests/ArchiveTesting.h"
#include "model/tests/TreeTesting.h"

namespace Zorvik::Testing {
namespace {

class ItemTree : public ArchiveFolderTest {
protected:
    void SetUp() override {
        ArchiveFolderTest::SetUp();
        for (const char* folder : {"tree/a/c", "tree/gamma", "tree/alpha", "tree/Beta", "tree/empty"}) fs::create_directories(Path(folder));
        Write("tree/a/b.txt", "b");
        Write("tree/a/c/d.txt", "dd");
        Write("tree/gamma/g.txt", "ggg");
        Write("tree/alpha/x.txt", "");
        Write("tree/Beta/y.bin", std::string(1000, 'y'));
    }

    com_ptr<IArchive> Opened(const std::string& file) {
        auto archive = NewArchive();
        EXPECT_TRUE(OpenArchive(archive.get(), Path(file))) << file;
        return archive;
    }

    // What Describe would say of the folder on disk, in no particular order.
    std::vector<std::string> OnDisk(const std::string& top) const {
        std::vector<std::string> nodes{top + "/"};
        for (const auto& entry : fs::recursive_directory_iterator(Path(top)))
            nodes.push_back(fs::relative(entry.path(), root_).string() + (entry.is_directory() ? "/" : ""));
        std::sort(nodes.begin(), nodes.end());
        return nodes;
    }
};

std::vector<std::string> Sorted(std::vector<std::string> nodes) {
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

template <typename T>
T Statistic(IArchive* archive, HRESULT (IArchive::*getter)(T*)) {
    T value{};
    zorvik::rt::check_hresult((archive->*getter)(&value));
    return value;
}

TEST_F(ItemTree, EveryFormatShowsItsSourceFolder) {
    Run("7z a -bd t.7z tree");
    Run("zip -qr t.zip tree");
    Run("tar cf t.tar tree");
    for (const char* file : {"t.7z", "t.zip", "t.tar"}) {
        auto archive = Opened(file);
        EXPECT_EQ(Statistic(archive.get(), &IArchive::get_FileCount), 0u) << "no tree yet";
        auto root = RootOf(archive.get());
        EXPECT_EQ(Sorted(Describe(root)), OnDisk("tree")) << file;
        EXPECT_EQ(Statistic(archive.get(), &IArchive::get_FileCount), 5u) << file;
        EXPECT_EQ(Statistic(archive.get(), &IArchive::get_UnpackedSize), 1006u) << file;

        auto tree = FolderNamed(root, L"tree");
        auto c = FolderNamed(FolderNamed(tree, L"a"), L"c");
        auto d = FilesOf(c).at(0);
        EXPECT_EQ(PathOf(d), L"tree/a/c/d.txt") << "the entry path as the handler reports it";
        zorvik::rt::hstring relative;
        ASSERT_EQ(d.as<IArchiveItem>()->GetRelativePath(c.get(), relative.put()), S_OK);
        EXPECT_EQ(relative, L"d.txt");
        ASSERT_EQ(d.as<IArchiveItem>()->GetRelativePath(tree.get(), relative.put()), S_OK);
        EXPECT_EQ(relative, L"a/c/d.txt");
        EXPECT_EQ(RootOf(archive.get()).get(), root.get()) << "built once";
    }
}

TEST_F(ItemTree, FoldersThatNoEntryNamesAndADirectoryListedAfterItsContent) {
    Run("cd tree && zip -qD ../implicit.zip a/b.txt a/c/d.txt && zip -q ../late.zip a/b.txt a/c/d.txt a");
    auto root = RootOf(Opened("implicit.zip").get());
    auto a = FolderNamed(root, L"a");
    auto c = FolderNamed(a, L"c");
    EXPECT_FALSE(PropertiesOf(a));
    EXPECT_EQ(PathOf(c), L"a/c") << "an implicit folder's path is built from the tree";
    EXPECT_EQ(NamesOf(ItemsOf(a)), (std::vector<std::wstring>{L"b.txt", L"c"}));

    root = RootOf(Opened("late.zip").get());
    EXPECT_EQ(ItemsOf(root).size(), 1u) << "the directory entry joins the folder made for its content";
    auto properties = PropertiesOf(FolderNamed(root, L"a"));
    ASSERT_TRUE(properties);
    bool isFolder = false;
    properties.as<IFileSystemProperties>()->get_IsFolder(&isFolder);
    EXPECT_TRUE(isFolder);
}

TEST_F(ItemTree, FoldersWhoseNamesDifferInCaseStayApartAndFilesOfOneNameAllStay) {
    fs::create_directories(Path("Photos"));
    fs::create_directories(Path("photos"));
    Write("Photos/old.jpg", "old");
    Write("photos/keep.jpg", "keep");
    Write("x.txt", "first");
    Run("7zz a -bd case.7z Photos photos && zip -qr case.zip Photos photos && bsdtar cf case.tar Photos photos");
    Run("tar cf dup.tar x.txt && echo second > x.txt && tar rf dup.tar x.txt");
    for (const char* file : {"case.7z", "case.zip", "case.tar"}) {
        SCOPED_TRACE(file);
        auto root = RootOf(Opened(file).get());
        EXPECT_EQ(Describe(root), (std::vector<std::string>{"Photos/", "Photos/old.jpg", "photos/", "photos/keep.jpg"}));
        EXPECT_EQ(PathOf(FilesOf(FolderNamed(root, L"photos")).at(0)), L"photos/keep.jpg");
    }

    auto archive = Opened("dup.tar");
    auto root = RootOf(archive.get());
    EXPECT_EQ(NamesOf(FilesOf(root)), (std::vector<std::wstring>{L"x.txt", L"x.txt"}));
    EXPECT_EQ(ItemsOf(root).size(), 2u);
    EXPECT_EQ(Statistic(archive.get(), &IArchive::get_UnpackedSize), 12u);
}

TEST_F(ItemTree, ALeadingSeparatorIsDroppedAndADoubledOneMakesAnEmptyName) {
    Write("x.txt", "x");
    Run("tar cPf lead.tar --transform 's,^,/,' x.txt && tar cf double.tar --transform 's,^x,p//x,' x.txt");
    auto root = RootOf(Opened("lead.tar").get());
    ASSERT_EQ(NamesOf(FilesOf(root)), std::vector<std::wstring>{L"x.txt"});
    EXPECT_EQ(PathOf(FilesOf(root)[0]), L"/x.txt");

    root = RootOf(Opened("double.tar").get());
    EXPECT_EQ(Describe(root), (std::vector<std::string>{"p/", "p//", "p//x.txt"}));
    auto p = FolderNamed(root, L"p");
    auto unnamed = FolderNamed(p, L"");
    ASSERT_TRUE(unnamed);
    EXPECT_EQ(PathOf(unnamed), L"p/");
    zorvik::rt::hstring relative;
    ASSERT_EQ(FilesOf(unnamed).at(0).as<IArchiveItem>()->GetRelativePath(p.get(), relative.put()), S_OK);
    EXPECT_EQ(relative, L"/x.txt");
}

TEST_F(ItemTree, FoldersAreInNameOrderWithoutCaseAndItemsInArchiveOrder) {
    Run("tar cf order.tar tree/gamma tree/alpha tree/Beta");
    auto tree = FolderNamed(RootOf(Opened("order.tar").get()), L"tree");
    EXPECT_EQ(NamesOf(FoldersOf(tree)), (std::vector<std::wstring>{L"alpha", L"Beta", L"gamma"}));
    EXPECT_EQ(NamesOf(ItemsOf(tree)), (std::vector<std::wstring>{L"gamma", L"alpha", L"Beta"}));
}

TEST_F(ItemTree, ANamelessEntryIsNamedAfterTheArchive) {
    Write("notes.txt", std::string(1000, 'n'));
    Run("gzip -nk notes.txt");
    auto root = RootOf(Opened("notes.txt.gz").get());
    ASSERT_EQ(FilesOf(root).size(), 1u);
    EXPECT_EQ(NameOf(FilesOf(root)[0]), L"notes.txt");
    EXPECT_EQ(PathOf(FilesOf(root)[0]), L"notes.txt");

    // Whatever the format: data stored from a pipe has no name either.
    auto archive = Opened("notes.txt.gz");
    static_cast<Archive*>(archive.get())->Format->KeepsName = false;
    EXPECT_EQ(NamesOf(ItemsOf(RootOf(archive.get()))), std::vector<std::wstring>{L"notes.txt"});
}

TEST_F(ItemTree, ProgressHearsTheTotalAndEveryEntry) {
    Run("zip -qr t.zip tree");
    auto progress = zorvik::rt::make<ProgressRecorder>();
    RootOf(Opened("t.zip").get(), progress.get());
    ASSERT_EQ(progress->Totals, std::vector<std::uint64_t>{12});
    std::vector<std::uint64_t> every(12);
    for (std::uint64_t i = 0; i < every.size(); ++i) every[i] = i;
    EXPECT_EQ(progress->Completed, every);
}

TEST_F(ItemTree, TheRatioComparesPackedAndUnpackedSizes) {
    Run("cd tree/Beta && tar cf ../../y.tar y.bin");
    auto archive = Opened("y.tar");
    EXPECT_EQ(Statistic(archive.get(), &IArchive::get_CompressionRatio), 0.0) << "no tree yet";
    RootOf(archive.get());
    EXPECT_EQ(Statistic(archive.get(), &IArchive::get_CompressionRatio), 0.0) << "a tar is larger than its content";
    static_cast<Archive*>(archive.get())->PackedSize = 250;
    EXPECT_DOUBLE_EQ(Statistic(archive.get(), &IArchive::get_CompressionRatio), 0.75);
}

TEST_F(ItemTree, NothingOpenIsAnIllegalCall) {
    auto archive = NewArchive();
    com_ptr<IAsyncOperation<IArchiveFolder*>> operation = StartTree(archive.get());
    zorvik::rt::wait(operation.get());
    HRESULT code = S_OK;
    operation.as<ABI::Windows::Foundation::IAsyncInfo>()->get_ErrorCode(&code);
    EXPECT_EQ(code, E_ILLEGAL_METHOD_CALL);
}

}  // namespace
}  // namespace Zorvik::Testing
