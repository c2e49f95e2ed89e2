// Extraction never writes outside its folder and never over a file unless told to.
#include "cli/tests/ToolTesting.h"

namespace Zorvik::Cli::Testing {
namespace {

// Every path below folder, links included, relative to it.
std::vector<std::string> Everything(const fs::path& folder) {
    std::vector<std::string> paths;
    for (const auto& item : fs::recursive_directory_iterator(folder)) paths.push_back(fs::relative(item.path(), folder).generic_string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

class HostileNames : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        // Everything but root/jail/out counts as outside.
        fs::create_directories(Path("jail/out"));
        fs::create_directories(Path("outside"));
    }

    // Extracts into jail/out and checks that nothing appeared anywhere else.
    ToolResult ExtractInJail(std::vector<std::string> extra = {}) {
        const auto isBookkeeping = [](const std::string& path) { return path.rfind(".std", 0) == 0 || path.rfind(".temp", 0) == 0; };
        const auto before = Everything(root_);
        std::vector<std::string> args{"extract", "hostile.tar", "-o", "jail/out"};
        args.insert(args.end(), extra.begin(), extra.end());
        ToolResult result = Run(args);
        for (const auto& path : Everything(root_)) {
            if (path.rfind("jail/out/", 0) == 0 || isBookkeeping(path)) continue;
            EXPECT_TRUE(std::binary_search(before.begin(), before.end(), path)) << "written outside the folder: " << path;
        }
        EXPECT_FALSE(fs::exists("/abs"));
        return result;
    }
};

TEST_F(HostileNames, DotDotAndAbsoluteNamesAreRefusedAndTheRestIsExtracted) {
    WriteFile(Path("maker/f1"), "evil\n");
    WriteFile(Path("maker/f2"), "abs\n");
    WriteFile(Path("maker/f3"), "b\n");
    WriteFile(Path("maker/good"), "good\n");
    Shell("tar -cPf ../hostile.tar --transform='s,^f1$,../evil,;s,^f2$,/abs,;s,^f3$,a/../../b,' f1 f2 f3 good", "maker");
    const ToolResult result = ExtractInJail();
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.err,
              "zorvik: ../evil: refused: name holds \"..\"\n"
              "zorvik: /abs: refused: absolute path\n"
              "zorvik: a/../../b: refused: name holds \"..\"\n");
    EXPECT_EQ(Everything(Path("jail/out")), std::vector<std::string>{"good"});
}

TEST_F(HostileNames, AChainOfFoldersTooDeepToWriteIsRefusedWhileInfoAndTestReadIt) {
    // One entry 100,000 folders deep, in 200 KB: every command once took time and memory that
    // grew with the square of the depth.
    Shell(
        "python3 -c \"import io, tarfile\n"
        "with tarfile.open('hostile.tar', 'w', format=tarfile.PAX_FORMAT) as t:\n"
        "    i = tarfile.TarInfo('d/' * 100000 + 'leaf'); i.size = 5; t.addfile(i, io.BytesIO(b'deep\\\\n'))\"");
    const ToolResult info = Run({"info", "hostile.tar", "--json"});
    ASSERT_EQ(info.code, 0) << info.err;
    EXPECT_EQ(nlohmann::json::parse(info.out)["folderCount"].get<int>(), 100000);
    EXPECT_EQ(Run({"test", "hostile.tar"}).out.rfind("hostile.tar: OK, 1 file tested, 5 B, ", 0), 0u);

    const ToolResult listed = Run({"list", "hostile.tar"});
    EXPECT_EQ(listed.code, 1);
    std::string limit = "d";
    for (int i = 1; i < 1024; ++i) limit += "/d";
    EXPECT_EQ(listed.err, "zorvik: " + limit + ": holds entries nested deeper than 1024 folders; they are not listed\n");
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 1024 + 2) << "the folders down to the limit, a heading and a total";

    const ToolResult extracted = ExtractInJail();
    EXPECT_EQ(extracted.code, 1);
    EXPECT_TRUE(extracted.err.ends_with(": refused: nested deeper than 1024 folders\n")) << extracted.err.substr(0, 200);
    EXPECT_TRUE(fs::is_empty(Path("jail/out")));
}

TEST_F(HostileNames, ALinkEntryLeadingOutsideIsNeverFollowed) {
    fs::create_directories(Path("maker/d"));
    WriteFile(Path("maker/d/file"), "through the link\n");
    fs::create_symlink(Path("outside"), Path("maker/link"));
    Shell("tar -cf ../hostile.tar link && tar -rf ../hostile.tar --transform='s,^d/file$,link/file,' d/file", "maker");
    const ToolResult result = ExtractInJail();
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.err,
              "zorvik: link/file: refused: path goes through a symbolic link (link)\n"
              "zorvik: link: refused: its target leads outside the destination (" +
                  Path("outside").string() + ")\n");
    EXPECT_TRUE(fs::is_empty(Path("outside")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(Path("jail/out/link"))));
}

TEST_F(HostileNames, ALinkAlreadyInTheFolderIsNeverFollowed) {
    WriteFile(Path("maker/sub/x.txt"), "x\n");
    WriteFile(Path("maker/top.txt"), "top\n");
    Shell("tar -cf ../hostile.tar sub/x.txt top.txt", "maker");
    fs::create_directory_symlink(Path("outside"), Path("jail/out/sub"));
    fs::create_symlink(Path("outside/target.txt"), Path("jail/out/top.txt"));
    WriteFile(Path("outside/target.txt"), "keep me\n");

    const ToolResult result = ExtractInJail({"--overwrite"});
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.err, "zorvik: sub/x.txt: refused: path goes through a symbolic link (sub)\n");
    EXPECT_EQ(Everything(Path("outside")), std::vector<std::string>{"target.txt"});
    EXPECT_EQ(ReadFile(Path("outside/target.txt")), "keep me\n") << "--overwrite replaces the link, not what it points to";
    EXPECT_FALSE(fs::is_symlink(Path("jail/out/top.txt")));
    EXPECT_EQ(ReadFile(Path("jail/out/top.txt")), "top\n");
}

TEST_F(ToolTest, SkippingExistingFilesIsASuccessInEveryFormat) {
    // tar and zip handlers give no result for an entry whose data the caller declines.
    for (const auto& [archive, command] : std::vector<std::pair<std::string, std::string>>{{"a.7z", "7z a -bd ../a.7z readme.txt docs"},
                                                                                           {"a.zip", "zip -qr ../a.zip readme.txt docs"},
                                                                                           {"a.tar", "tar -cf ../a.tar readme.txt docs"}}) {
        SCOPED_TRACE(archive);
        Shell(command, "src");
        const std::string out = "out-" + archive;
        ASSERT_EQ(Run({"extract", "-q", archive, "-o", out, "docs"}).code, 0);
        WriteFile(Path(out + "/docs/notes.txt"), "mine\n");
        const ToolResult skipped = Run({"extract", archive, "-o", out, "--skip-existing", "--json"});
        EXPECT_EQ(skipped.code, 0) << skipped.err;
        EXPECT_EQ(skipped.err, "");
        EXPECT_EQ(ReadFile(Path(out + "/docs/notes.txt")), "mine\n");
        std::map<std::string, std::string> results;
        const auto report = nlohmann::json::parse(skipped.out);
        for (const auto& item : report["items"])
            if (!item["folder"].get<bool>()) results[item["path"].get<std::string>()] = item["result"].get<std::string>();
        EXPECT_EQ(results, (std::map<std::string, std::string>{
                               {"docs/deep/data.bin", "skipped"}, {"docs/notes.txt", "skipped"}, {"readme.txt", "ok"}}))
            << skipped.out;
    }
}

TEST_F(ToolTest, ExistingFilesAreKeptUnlessOverwriteIsGiven) {
    Shell("7z a -bd ../tree.7z readme.txt docs", "src");
    WriteFile(Path("out/readme.txt"), "mine\n");
    fs::create_directories(Path("out/docs/notes.txt"));  // a folder where a file goes

    const ToolResult refused = Run({"extract", "tree.7z", "-o", "out"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err,
              "zorvik: docs/notes.txt: a folder of that name exists\n"
              "zorvik: readme.txt: exists (use --overwrite or --skip-existing)\n");
    EXPECT_EQ(ReadFile(Path("out/readme.txt")), "mine\n");
    EXPECT_EQ(ReadFile(Path("out/docs/deep/data.bin")), Noise(70000)) << "the other entries are extracted";

    fs::remove(Path("out/docs/notes.txt"));
    WriteFile(Path("out/docs/notes.txt"), "also mine\n");
    const ToolResult skipped = Run({"extract", "tree.7z", "-o", "out", "--skip-existing"});
    EXPECT_EQ(skipped.code, 0) << skipped.err;
    EXPECT_EQ(ReadFile(Path("out/readme.txt")), "mine\n");
    EXPECT_EQ(ReadFile(Path("out/docs/notes.txt")), "also mine\n");

    // A hard link to the file being replaced keeps the old content.
    fs::create_hard_link(Path("out/readme.txt"), Path("hardlink.txt"));
    const ToolResult replaced = Run({"extract", "tree.7z", "-o", "out", "--overwrite"});
    EXPECT_EQ(replaced.code, 0) << replaced.err;
    auto expected = TreeOf(Path("src"));
    expected.erase("zero.txt");
    expected.erase("empty");
    EXPECT_EQ(TreeOf(Path("out")), expected);
    EXPECT_EQ(ReadFile(Path("hardlink.txt")), "mine\n");
}

}  // namespace
}  // namespace Zorvik::Cli::Testing
