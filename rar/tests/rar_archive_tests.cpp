// RAR 5 archives made by rar at test time, opened, listed and extracted through the public ABI
// by the in-process reader; older RAR archives go to the engine's handler.
#include <algorithm>
#include <numeric>

#include <sys/stat.h>

#include <map>
#include <tuple>

#include "archive/tests/ExtractionTesting.h"
#include "rar/RarArchive.h"
#include "zorvik/PosixProperties.h"

namespace Zorvik::Testing {
namespace {

bool HasRar() { return std::system("command -v rar >/dev/null 2>&1") == 0; }

bool InProcess(const com_ptr<IArchive>& archive) {
    return dynamic_cast<Impl::RAR::Archive*>(static_cast<Archive*>(archive.get())->InArchive.get()) != nullptr;
}

std::uint64_t SizeOf(const com_ptr<IArchiveFile>& file) {
    std::uint64_t size = 0;
    zorvik::rt::check_hresult(PropertiesOf(file).as<IFileSystemProperties>()->get_Size(&size));
    return size;
}

std::uint64_t PackedSizeOf(const com_ptr<IArchiveFile>& file) {
    std::uint64_t size = 0;
    zorvik::rt::check_hresult(PropertiesOf(file)->get_PackedSize(&size));
    return size;
}

class RarArchives : public Extraction {
protected:
    void SetUp() override {
        if (!HasRar()) GTEST_SKIP() << "rar is not installed";
        Extraction::SetUp();
    }

    // Every file of the source tree, as an extraction of the root hears it.
    void ExpectWholeTree(Heard& heard) {
        for (const char* file : kTreeFiles) EXPECT_EQ(heard.Content(KeyOf(file)), OnDisk(file)) << file;
        EXPECT_EQ(Sorted(heard.folders), (std::vector<std::string>{"tree", "tree/a", "tree/a/c", "tree/empty"}));
        EXPECT_EQ(std::count_if(heard.completed.begin(), heard.completed.end(), [](const auto& c) { return !c.second; }), 0);
        EXPECT_EQ(*heard.streamsHeld, 0) << "every destination is released";
    }

    // Gives volumes by name from the scratch folder, recording each request.
    archive_source_hooks VolumesFromFolder(std::vector<std::wstring>& asked) {
        archive_source_hooks hooks;
        hooks.get_volume = [this, &asked](std::wstring_view name) {
            asked.emplace_back(name);
            const fs::path volume = Path(fs::path(name).filename().string());
            if (!fs::exists(volume)) return volume_answer::unavailable();
            return volume_answer::given(OpenFile(volume));
        };
        return hooks;
    }
};

TEST_F(RarArchives, EveryMethodListsAndExtractsByteIdentically) {
    for (int level = 0; level <= 5; ++level) {
        const std::string name = "m" + std::to_string(level) + ".rar";
        SCOPED_TRACE(name);
        Run("rar a -idq -m" + std::to_string(level) + " " + name + " tree");
        auto archive = Opened(name);
        ASSERT_TRUE(InProcess(archive));
        auto root = RootOf(archive.get());
        EXPECT_EQ(Describe(root), (std::vector<std::string>{"tree/", "tree/a/", "tree/a/c/", "tree/a/c/d.txt", "tree/a/b.txt",
                                                            "tree/empty/", "tree/noise.bin", "tree/zero.txt"}));
        auto tree = FolderNamed(root, L"tree");
        const auto files = FilesOf(tree);
        ASSERT_EQ(files.size(), 2u);
        EXPECT_EQ(SizeOf(files[0]), 700000u);
        EXPECT_GT(PackedSizeOf(files[0]), 0u);
        EXPECT_EQ(SizeOf(files[1]), 0u);

        Heard heard;
        ASSERT_TRUE(Extract(archive, {Item(root)}, heard));
        ExpectWholeTree(heard);
    }
}

TEST_F(RarArchives, SolidArchivesDecodeEarlierItemsForALaterOne) {
    // The comment is a service header ahead of the files, which the solid walk passes over.
    Write("comment.txt", "a comment");
    Run("rar a -idq -s -htb -zcomment.txt solid.rar tree");
    auto archive = Opened("solid.rar");
    ASSERT_TRUE(InProcess(archive));
    auto root = RootOf(archive.get());

    Heard whole;
    ASSERT_TRUE(Extract(archive, {Item(root)}, whole));
    ExpectWholeTree(whole);

    // Every later item needs the solid stream up to it; asked for alone, each still decodes.
    for (const char* file : kTreeFiles) {
        SCOPED_TRACE(file);
        fs::path path(file);
        auto folder = root;
        for (auto part = path.begin(); std::next(part) != path.end(); ++part) folder = FolderNamed(folder, part->wstring());
        const auto files = FilesOf(folder);
        const auto found =
            std::find_if(files.begin(), files.end(), [&](const auto& f) { return NameOfItem(Item(f).get()) == path.filename(); });
        ASSERT_NE(found, files.end());
        Heard one;
        ASSERT_TRUE(Extract(archive, {Item(*found)}, one));
        EXPECT_EQ(one.Content(path.filename().string()), OnDisk(file));
        EXPECT_EQ(one.completed, (std::vector<std::pair<std::string, bool>>{{path.filename().string(), true}}));
    }
}

TEST_F(RarArchives, FileCopiesComeFromOneDecodeOfTheirSource) {
    Write("tree/copy.bin", OnDisk("tree/noise.bin"));
    for (const char* options : {"", "-s"}) {
        SCOPED_TRACE(options);
        fs::remove(Path("copies.rar"));
        Run(std::string("rar a -idq -oi ") + options + " copies.rar tree/noise.bin tree/copy.bin");
        auto archive = Opened("copies.rar");
        ASSERT_TRUE(InProcess(archive));
        auto tree = FolderNamed(RootOf(archive.get()), L"tree");
        auto files = FilesOf(tree);
        ASSERT_EQ(files.size(), 2u);
        if (NameOfItem(Item(files[0]).get()) != "copy.bin") std::swap(files[0], files[1]);
        ASSERT_EQ(NameOfItem(Item(files[0]).get()), "copy.bin");
        EXPECT_EQ(SizeOf(files[0]), 700000u) << "the copy lists its own size";

        Heard both;
        ASSERT_TRUE(Extract(archive, {Item(tree)}, both));
        EXPECT_EQ(both.Content("tree/noise.bin"), OnDisk("tree/noise.bin"));
        EXPECT_EQ(both.Content("tree/copy.bin"), OnDisk("tree/noise.bin"));
        // One decode, one result: both entries still hear that they completed.
        auto completed = both.completed;
        std::sort(completed.begin(), completed.end());
        EXPECT_EQ(completed, (std::vector<std::pair<std::string, bool>>{{"copy.bin", true}, {"noise.bin", true}}));

        Heard copyAlone;
        ASSERT_TRUE(Extract(archive, {Item(files[0])}, copyAlone));
        EXPECT_EQ(copyAlone.fileRequests, (std::vector<std::string>{"copy.bin"})) << "the source is decoded without output";
        EXPECT_EQ(copyAlone.Content("copy.bin"), OnDisk("tree/noise.bin"));
        EXPECT_EQ(*copyAlone.streamsHeld, 0);
    }
}

TEST_F(RarArchives, EncryptedDataAsksForThePasswordOnceAndReportsAWrongOne) {
    for (const char* options : {"", "-s"}) {
        SCOPED_TRACE(options);
        fs::remove(Path("data.rar"));
        Run(std::string("rar a -idq -psecret ") + options + " data.rar tree");
        auto archive = Opened("data.rar");
        ASSERT_TRUE(InProcess(archive));
        auto root = RootOf(archive.get());
        bool encrypted = false;
        ASSERT_EQ(PropertiesOf(FilesOf(FolderNamed(root, L"tree")).at(0))
                      .as<__IArchiveEntryPropertiesPublicNonVirtuals>()
                      ->get_IsEncrypted(&encrypted),
                  S_OK);
        EXPECT_TRUE(encrypted);

        Heard right;
        ASSERT_TRUE(
            Extract(archive, {Item(root)}, right, {.get_password = [](IArchiveItem*) { return password_answer::given(L"secret"); }}));
        EXPECT_EQ(right.passwordItemGiven.size(), 1u) << "one password serves every entry";
        ExpectWholeTree(right);

        auto fresh = Opened("data.rar");
        auto file = Item(FilesOf(FolderNamed(FolderNamed(RootOf(fresh.get()), L"tree"), L"a")).at(0));
        Heard wrong;
        Extract(fresh, {file}, wrong, {.get_password = [](IArchiveItem*) { return password_answer::given(L"nope"); }});
        EXPECT_EQ(wrong.failed, (std::vector<std::pair<std::string, std::int32_t>>{{"b.txt", ExtractionFailure::Encrypted}}));
        EXPECT_EQ(wrong.completed, (std::vector<std::pair<std::string, bool>>{{"b.txt", false}}));

        Heard retried;
        int asked = 0;
        ASSERT_TRUE(Extract(fresh, {file}, retried,
                            {.item_failed = [](IArchiveItem*, std::int32_t) { return ExtractionAnswer::Retry; },
                             .get_password = [&](IArchiveItem*) { return password_answer::given(++asked == 1 ? L"nope" : L"secret"); }}));
        EXPECT_EQ(asked, 2) << "a wrong password is forgotten and asked for again";
        EXPECT_EQ(retried.Content("b.txt"), "bee\n");

        Heard canceling;
        auto another = Opened("data.rar");
        auto anotherFile = Item(FilesOf(FolderNamed(FolderNamed(RootOf(another.get()), L"tree"), L"a")).at(0));
        auto operation = StartExtract(another, {anotherFile},
                                      Recorder(canceling, {.get_password = [](IArchiveItem*) { return password_answer::canceled(); }}));
        EXPECT_EQ(EndOf(operation), AsyncStatus::Canceled) << "a cancelled password request cancels";
    }
}

TEST_F(RarArchives, EncryptedHeadersAskForThePasswordWhileOpening) {
    Run("rar a -idq -hpsecret headers.rar tree");
    int asked = 0;
    archive_source_hooks hooks;
    hooks.request_password = [&] { return password_answer::given(++asked == 1 ? L"nope" : L"secret"); };
    auto archive = NewArchive();
    ASSERT_TRUE(OpenArchive(archive.get(), Path("headers.rar"), hooks));
    EXPECT_EQ(asked, 2) << "a wrong password fails the attempt, which asks again";
    ASSERT_TRUE(InProcess(archive));

    Heard heard;
    ASSERT_TRUE(Extract(archive, {Item(RootOf(archive.get()))}, heard));
    EXPECT_TRUE(heard.passwordItemGiven.empty()) << "the password of the headers also opens the data";
    ExpectWholeTree(heard);

    archive_source_hooks canceling;
    canceling.request_password = [] { return password_answer::canceled(); };
    auto canceled = NewArchive();
    EXPECT_THROW(OpenArchive(canceled.get(), Path("headers.rar"), canceling), zorvik::rt::hresult_error);
}

TEST_F(RarArchives, VolumeSetsOpenFromAnyVolumeAndSplitFilesAreOneItem) {
    Run("rar a -idq -m0 -v300k vol.rar tree");
    ASSERT_TRUE(fs::exists(Path("vol.part3.rar")));
    std::uint64_t noisePacked = 0;
    for (const char* start : {"vol.part1.rar", "vol.part2.rar"}) {
        SCOPED_TRACE(start);
        std::vector<std::wstring> asked;
        auto archive = NewArchive();
        ASSERT_TRUE(OpenArchive(archive.get(), Path(start), VolumesFromFolder(asked)));
        ASSERT_TRUE(InProcess(archive));
        if (std::string(start) == "vol.part2.rar") {
            EXPECT_NE(std::find(asked.begin(), asked.end(), L"vol.part1.rar"), asked.end()) << "starts over from the first volume";
        }
        EXPECT_TRUE(static_cast<Archive*>(archive.get())->IsMultiVolume);

        auto root = RootOf(archive.get());
        const auto files = FilesOf(FolderNamed(root, L"tree"));
        ASSERT_EQ(files.size(), 2u) << "a file over three volumes is one item";
        EXPECT_EQ(SizeOf(files[0]), 700000u);
        noisePacked = PackedSizeOf(files[0]);
        EXPECT_GE(noisePacked, 700000u) << "packed size is the sum over the volumes";

        Heard heard;
        ASSERT_TRUE(Extract(archive, {Item(root)}, heard));
        ExpectWholeTree(heard);
    }

    // Without the first volume the in-process reader declines the set (the engine's handler may
    // still list what the second volume holds).
    fs::rename(Path("vol.part1.rar"), Path("moved.rar"));
    std::vector<std::wstring> asked;
    auto archive = NewArchive();
    if (OpenArchive(archive.get(), Path("vol.part2.rar"), VolumesFromFolder(asked))) {
        EXPECT_FALSE(InProcess(archive));
    }
}

TEST_F(RarArchives, EmptyItemsAndLinksAreListedWithTheirModesAndTargets) {
    fs::create_symlink("a/b.txt", Path("tree/link"));
    fs::create_hard_link(Path("tree/noise.bin"), Path("tree/hard.bin"));
    fs::permissions(Path("tree/zero.txt"), fs::perms(0640));
    Run("rar a -idq -ol -oh links.rar tree");
    auto archive = Opened("links.rar");
    ASSERT_TRUE(InProcess(archive));
    auto tree = FolderNamed(RootOf(archive.get()), L"tree");
    EXPECT_TRUE(FilesOf(FolderNamed(tree, L"empty")).empty());

    // Mode, symbolic target and hard target of each file, as the extension tells them.
    std::map<std::wstring, std::tuple<std::uint32_t, std::wstring, std::wstring>> posix;
    for (const auto& file : FilesOf(tree)) {
        const auto properties = PropertiesOf(file).as<IPosixEntryProperties>();
        std::uint32_t mode = 0;
        zorvik::rt::hstring symbolic, hard;
        zorvik::rt::check_hresult(properties->get_Mode(&mode));
        zorvik::rt::check_hresult(properties->get_SymbolicLinkTarget(symbolic.put()));
        zorvik::rt::check_hresult(properties->get_HardLinkTarget(hard.put()));
        // The type of a link and a copy; the whole mode of a plain file.
        if (!symbolic.empty() || !hard.empty()) mode &= S_IFMT;
        posix[NameOf(file)] = {mode, std::wstring(symbolic.view()), std::wstring(hard.view())};
    }
    using Posix = std::tuple<std::uint32_t, std::wstring, std::wstring>;
    EXPECT_EQ(posix.size(), 4u) << "links are entries";
    EXPECT_EQ(posix[L"link"], Posix(S_IFLNK, L"a/b.txt", L""));
    // rar stores the second of two hard-linked names, in the order it met them, as a link.
    const bool hardIsTheLink = !std::get<2>(posix[L"hard.bin"]).empty();
    EXPECT_EQ(posix[hardIsTheLink ? L"hard.bin" : L"noise.bin"], Posix(S_IFREG, L"", hardIsTheLink ? L"tree/noise.bin" : L"tree/hard.bin"));
    EXPECT_EQ(posix[L"zero.txt"], Posix(S_IFREG | 0640, L"", L""));

    Heard heard;
    ASSERT_TRUE(Extract(archive, {Item(tree)}, heard));
    EXPECT_EQ(heard.Content("tree/zero.txt"), "");
    EXPECT_TRUE(heard.Succeeded("zero.txt"));
    EXPECT_TRUE(heard.Succeeded("link")) << "a link has no data to fail";
    EXPECT_EQ(heard.Content("tree/link"), "");
    EXPECT_NE(std::find(heard.folders.begin(), heard.folders.end(), "tree/empty"), heard.folders.end());
}

TEST_F(RarArchives, ProgressClimbsToTheTotalAndACancelStopsTheExtraction) {
    Run("rar a -idq -m1 progress.rar tree");
    auto archive = Opened("progress.rar");
    auto root = RootOf(archive.get());

    Heard heard;
    int totals = 0;
    std::vector<std::uint64_t> completed;
    ASSERT_TRUE(Extract(archive, {Item(root)}, heard,
                        {.set_total = [&](std::uint64_t) { return ++totals, 0; },
                         .set_completed = [&](std::uint64_t value) { return completed.push_back(value), 0; }}));
    EXPECT_EQ(totals, 1);
    EXPECT_EQ(heard.total, 703004u);
    ASSERT_FALSE(completed.empty());
    EXPECT_TRUE(std::is_sorted(completed.begin(), completed.end()));
    EXPECT_EQ(completed.back(), heard.total);

    Heard canceling;
    auto operation = StartExtract(archive, {Item(root)}, Recorder(canceling, {.set_completed = [](std::uint64_t) { return 1; }}));
    EXPECT_EQ(EndOf(operation), AsyncStatus::Canceled);
    EXPECT_EQ(*canceling.streamsHeld, 0);
}

TEST_F(RarArchives, OlderRarArchivesGoToTheEnginesHandler) {
    const fs::path fixtures = fs::path(ZORVIK_SOURCE_DIR) / "../shared/fixtures/rar4";
    if (!fs::exists(fixtures)) GTEST_SKIP() << "RAR 4 samples missing: " << fixtures;
    for (const char* name : {"test_read_format_rar.rar", "test_read_format_rar_compress_best.rar"}) {
        SCOPED_TRACE(name);
        fs::copy_file(fixtures / name, Path(name));
        std::vector<bool> attempts;
        archive_source_hooks hooks;
        hooks.report_open_attempt = [&](bool opened) { attempts.push_back(opened); };
        auto archive = NewArchive();
        ASSERT_TRUE(OpenArchive(archive.get(), Path(name), hooks));
        EXPECT_FALSE(InProcess(archive));
        ASSERT_GE(attempts.size(), 2u);
        EXPECT_EQ(attempts.back(), true);
        EXPECT_EQ(std::count(attempts.begin(), attempts.end(), true), 1) << "declined in-process, then opened by the engine";

        Heard heard;
        ASSERT_TRUE(Extract(archive, {Item(RootOf(archive.get()))}, heard));
        EXPECT_EQ(heard.Content("testdir/test.txt").size(), 20u);
    }
}

}  // namespace
}  // namespace Zorvik::Testing
