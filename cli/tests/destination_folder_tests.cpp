// The destination folder's own guarantees, below what an archive can express: names taken
// one component at a time, links never followed, files created afresh and named only when whole.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "cli/extracting/DeferredLinks.h"
#include "cli/extracting/DestinationFolder.h"

namespace Zorvik::Cli {
namespace {

namespace fs = std::filesystem;

class Destination : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zorvik-destination-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        fs::create_directories(root_ / "outside");
    }
    void TearDown() override { fs::remove_all(root_); }

    static void Write(const DestinationFolder::CreatedFile& file, const std::string& content) {
        ASSERT_EQ(::write(file.file.get(), content.data(), content.size()), static_cast<ssize_t>(content.size()));
    }
    static std::string Read(const fs::path& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path root_;
};

TEST_F(Destination, CreatesFoldersOnTheWayAndSkipsEmptyAndDotNames) {
    const DestinationFolder destination((root_ / "out/new").string());
    auto file = destination.CreateFile({L"a", L"", L".", L"b", L"c.txt"}, ExistingFiles::Fail);
    ASSERT_TRUE(file);
    Write(*file, "abc");
    EXPECT_FALSE(fs::exists(root_ / "out/new/a/b/c.txt")) << "named before it is whole";
    destination.Commit(*file);
    EXPECT_EQ(Read(root_ / "out/new/a/b/c.txt"), "abc");
    destination.CreateFolder({L".", L""});  // the destination itself
    EXPECT_THROW(destination.CreateFile({L"a", L""}, ExistingFiles::Fail), RefusedName);
    EXPECT_THROW(destination.CreateFile({L"a", L".."}, ExistingFiles::Fail), RefusedName);
    EXPECT_THROW(destination.CreateFolder({L"..", L"x"}), RefusedName);
    EXPECT_THROW(destination.CreateFile({std::wstring(L"a\0b", 3)}, ExistingFiles::Fail), RefusedName);
    EXPECT_FALSE(fs::exists(root_ / "out/x"));
}

// A file keeps its folder open while later items walk elsewhere, above and below the depth of
// folders kept open between items.
TEST_F(Destination, AFileIsNamedInItsOwnFolderWhateverTheItemsAfterItOpened) {
    const DestinationFolder destination((root_ / "out").string());
    std::vector<std::wstring> deep(40, L"d");
    deep.push_back(L"deep.txt");
    auto first = destination.CreateFile(deep, ExistingFiles::Fail);
    auto second = destination.CreateFile({L"e", L"shallow.txt"}, ExistingFiles::Fail);
    auto third = destination.CreateFile({L"shallow.txt"}, ExistingFiles::Fail);
    for (auto* file : {&first, &second, &third}) {
        ASSERT_TRUE(*file);
        Write(**file, "x");
        destination.Commit(**file);
    }
    fs::path path = root_ / "out";
    for (int i = 0; i < 40; ++i) path /= "d";
    EXPECT_EQ(Read(path / "deep.txt"), "x");
    EXPECT_EQ(Read(root_ / "out/e/shallow.txt"), "x");
    EXPECT_EQ(Read(root_ / "out/shallow.txt"), "x");
}

TEST_F(Destination, ALinkWithoutANameOfItsOwnIsRefusedAndTheOthersAreMade) {
    const DestinationFolder destination((root_ / "out").string());
    DeferredLinks links(&destination, false);
    const std::vector<std::vector<std::wstring>> nameless = {{L"."}, {L""}, {L"a", L"."}, {}};
    for (std::size_t i = 0; i < nameless.size(); ++i) links.AddSymbolic({i}, nameless[i], "x", ExistingFiles::Fail);
    links.AddSymbolic({nameless.size()}, {L"made"}, "x", ExistingFiles::Fail);
    std::vector<std::optional<std::string>> failures(nameless.size() + 1);
    links.Create([](DestinationFolder::FileIdentity) { return false; },
                 [&](std::size_t tag, const DeferredLinks::Outcome& outcome) { failures.at(tag) = outcome.failure; });
    for (std::size_t i = 0; i < nameless.size(); ++i) EXPECT_EQ(failures[i], "refused: invalid file name") << i;
    EXPECT_FALSE(failures.back());
    EXPECT_TRUE(fs::is_symlink(root_ / "out/made"));
}

TEST_F(Destination, NeverGoesThroughALink) {
    const DestinationFolder destination((root_ / "out").string());
    fs::create_directory_symlink(root_ / "outside", root_ / "out/linked");
    EXPECT_THROW(destination.CreateFile({L"linked", L"x"}, ExistingFiles::Overwrite), RefusedName);
    EXPECT_THROW(destination.CreateFolder({L"linked", L"deeper"}), RefusedName);
    EXPECT_THROW(destination.SetFolderModified({L"linked"}, timespec{0, 0}), RefusedName);
    EXPECT_TRUE(fs::is_empty(root_ / "outside"));
}

TEST_F(Destination, ExistingFilesFailAreSkippedOrReplacedButNeverWrittenThrough) {
    const DestinationFolder destination((root_ / "out").string());
    std::ofstream(root_ / "outside/target") << "outside";
    fs::create_symlink(root_ / "outside/target", root_ / "out/link");
    std::ofstream(root_ / "out/plain") << "old";
    fs::create_hard_link(root_ / "out/plain", root_ / "outside/hard");

    EXPECT_THROW(destination.CreateFile({L"link"}, ExistingFiles::Fail), ItemWriteError);
    EXPECT_FALSE(destination.CreateFile({L"plain"}, ExistingFiles::Skip));
    // A replacement that fails leaves the old file as it was.
    auto failed = destination.CreateFile({L"plain"}, ExistingFiles::Overwrite);
    Write(*failed, "broken");
    DestinationFolder::Remove(*failed);
    EXPECT_EQ(Read(root_ / "out/plain"), "old");
    for (const wchar_t* name : {L"link", L"plain"}) {
        auto file = destination.CreateFile({name}, ExistingFiles::Overwrite);
        ASSERT_TRUE(file);
        Write(*file, "new");
        destination.Commit(*file);
    }
    EXPECT_EQ(Read(root_ / "outside/target"), "outside");
    EXPECT_EQ(Read(root_ / "outside/hard"), "old");
    EXPECT_EQ(Read(root_ / "out/link"), "new");
    EXPECT_FALSE(fs::is_symlink(root_ / "out/link"));

    fs::create_directories(root_ / "out/folder");
    EXPECT_THROW(destination.CreateFile({L"folder"}, ExistingFiles::Overwrite), ItemWriteError) << "a folder is never removed";
}

TEST_F(Destination, RemovesWhatItCreatedAndSetsTimes) {
    const DestinationFolder destination((root_ / "out").string());
    auto removed = destination.CreateFile({L"d", L"gone"}, ExistingFiles::Fail);
    DestinationFolder::Remove(*removed);
    auto file = destination.CreateFile({L"d", L"f"}, ExistingFiles::Fail);
    ASSERT_TRUE(file);
    DestinationFolder::SetModified(*file, timespec{1000000000, 500});
    destination.Commit(*file);
    struct stat info {};
    ASSERT_EQ(::stat((root_ / "out/d/f").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(info.st_mtim.tv_nsec, 500);
    destination.SetFolderModified({L"d"}, timespec{2000000000, 0});
    ASSERT_EQ(::stat((root_ / "out/d").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 2000000000);
    EXPECT_EQ(fs::directory_iterator(root_ / "out/d")->path().filename(), "f") << "nothing else is left in the folder";
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ASSERT_EQ(::stat((root_ / "out/d/f").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask) << "the mode a new file gets";
}

}  // namespace
}  // namespace Zorvik::Cli
