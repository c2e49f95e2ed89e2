// Choosing entries by path, pattern and --exclude, for list, extract and test: the same entries
// as 7zz chooses for a pattern with "/", as bsdtar chooses for one without, and as bsdtar leaves
// out for an exclude.
#include "cli/reading/Selection.h"
#include "cli/tests/ToolTesting.h"

namespace Zorvik::Cli::Testing {
namespace {

TEST(Patterns, MatchWithinANameAndDoubleStarsAcrossNames) {
    struct Case {
        const wchar_t* pattern;
        const wchar_t* name;
        bool matches;
    };
    for (const Case& c : std::vector<Case>{{L"*.txt", L"notes.txt", true},
                                           {L"*.txt", L"notes.txt.gz", false},
                                           {L"n?tes*", L"notes.txt", true},
                                           {L"*s*s*", L"sss", true},
                                           {L"*s*s*s*s", L"sss", false},
                                           {L"[a-c]*", L"beta", true},
                                           {L"[!a-c]*", L"beta", false},
                                           {L"[^a-c]*", L"delta", true},
                                           {L"[]x]", L"]", true},
                                           {L"[a", L"[a", true},  // no set without its "]"
                                           {L"\\*", L"*", true},
                                           {L"\\*", L"x", false},
                                           {L"é?", L"éé", true}}) {
        EXPECT_EQ(MatchesName(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
    }
    using Names = std::vector<std::wstring>;
    EXPECT_TRUE(MatchesPath({L"**", L"*.txt"}, Names{L"a.txt"}));
    EXPECT_TRUE(MatchesPath({L"**", L"*.txt"}, Names{L"a", L"b", L"c.txt"}));
    EXPECT_TRUE(MatchesPath({L"a", L"**", L"c"}, Names{L"a", L"c"}));
    EXPECT_FALSE(MatchesPath({L"*", L"*.txt"}, Names{L"a", L"b", L"c.txt"})) << "one star is one name";
    EXPECT_FALSE(MatchesPath({L"a", L"**"}, Names{L"b", L"c"}));
}

class Selecting : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        WriteFile(Path("src/docs/readme.txt"), "inner readme\n");
        Shell("7zz a -bd ../tree.7z . && tar -cf ../tree.tar docs empty readme.txt zero.txt", "src");
    }
    // What a folder holds: every path, and the files with their content and time (a folder's
    // own time is the time it was made when no entry names it).
    std::vector<std::string> Extracted(const std::string& folder) const {
        std::vector<std::string> paths;
        for (const auto& [path, node] : TreeOf(Path(folder))) paths.push_back(path);
        return paths;
    }
    std::map<std::string, TreeNode> Files(const std::string& folder) const {
        auto files = TreeOf(Path(folder));
        std::erase_if(files, [](const auto& item) { return item.second.folder; });
        return files;
    }
};

TEST_F(Selecting, PatternsChooseWhat7zzChooses) {
    if (!HaveProgram("7zz")) GTEST_SKIP() << "7zz is not installed";
    // Ours and 7zz's way to say it: "**" is 7zz's -r.
    for (const auto& [ours, peer] : std::vector<std::pair<std::string, std::string>>{{"docs/*.txt", "'docs/*.txt'"},
                                                                                     {"*/readme.txt", "'*/readme.txt'"},
                                                                                     {"docs/deep/", "docs/deep/"},
                                                                                     {"**/*.txt", "-r '*.txt'"},
                                                                                     {"d?cs", "'d?cs'"}}) {
        SCOPED_TRACE(ours);
        const std::string folder = "out" + std::to_string(std::hash<std::string>{}(ours));
        const ToolResult extracted = Run({"extract", "-q", "tree.7z", "-o", folder + "/z", ours});
        EXPECT_EQ(extracted.code, 0) << extracted.err;
        Shell("7zz x -bd -y -o" + folder + "/p tree.7z " + peer);
        EXPECT_EQ(Extracted(folder + "/z"), Extracted(folder + "/p"));
        EXPECT_EQ(Files(folder + "/z"), Files(folder + "/p"));
    }
    // list and test choose the same.
    auto listed = JsonPaths(ListJson("tree.7z", {"**/*.txt"}));
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{"docs/notes.txt", "docs/readme.txt", "readme.txt", "zero.txt"}));
    const ToolResult tested = Run({"test", "tree.7z", "**/*.txt", "--json"});
    EXPECT_EQ(nlohmann::json::parse(tested.out)["files"], 4);

    const ToolResult missing = Run({"list", "tree.7z", "*.pdf", "readme.txt"});
    EXPECT_EQ(missing.code, 1) << "a pattern that matches nothing is an error";
    EXPECT_EQ(missing.err, "zorvik: *.pdf: no such entry in tree.7z\n");
    EXPECT_NE(missing.out.find(" readme.txt\n"), std::string::npos) << "and the rest is listed";
}

TEST_F(Selecting, PatternsWithoutASlashChooseWhatBsdtarChooses) {
    if (!HaveProgram("bsdtar")) GTEST_SKIP() << "bsdtar is not installed";
    // A leading star reaches into folders; any other pattern starts at the root.
    for (const char* pattern : {"*.txt", "*.bin", "*eep", "*", "readme.txt", "read*", "d?cs", "[dz]*"}) {
        SCOPED_TRACE(pattern);
        const std::string folder = "out" + std::to_string(std::hash<std::string>{}(pattern));
        const ToolResult extracted = Run({"extract", "-q", "tree.tar", "-o", folder + "/z", pattern});
        EXPECT_EQ(extracted.code, 0) << extracted.err;
        Shell("mkdir -p " + folder + "/p && bsdtar -xf tree.tar -C " + folder + "/p '" + pattern + "'");
        EXPECT_EQ(Extracted(folder + "/z"), Extracted(folder + "/p"));
        EXPECT_EQ(Files(folder + "/z"), Files(folder + "/p"));
    }
}

TEST_F(Selecting, ExcludesLeaveOutWhatBsdtarLeavesOut) {
    if (!HaveProgram("bsdtar")) GTEST_SKIP() << "bsdtar is not installed";
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{{"--exclude", "*.bin"},
                                                                                           {"--exclude", "deep"},
                                                                                           {"--exclude", "docs/deep"},
                                                                                           {"--exclude", "*.txt", "--exclude", "empty"},
                                                                                           {"--exclude", "readme.txt", "docs"}}) {
        const std::string label = ::testing::PrintToString(arguments);
        SCOPED_TRACE(label);
        const std::string folder = "out" + std::to_string(std::hash<std::string>{}(label));
        std::vector<std::string> args{"extract", "-q", "tree.tar", "-o", folder + "/z"};
        args.insert(args.end(), arguments.begin(), arguments.end());
        const ToolResult extracted = Run(args);
        EXPECT_EQ(extracted.code, 0) << extracted.err;
        std::string peer = "mkdir -p " + folder + "/p && bsdtar -xf tree.tar -C " + folder + "/p";
        for (const std::string& argument : arguments) peer += " '" + argument + "'";
        Shell(peer);
        EXPECT_EQ(Extracted(folder + "/z"), Extracted(folder + "/p"));
        EXPECT_EQ(Files(folder + "/z"), Files(folder + "/p"));
    }
}

TEST_F(Selecting, FlatExtractionDropsTheFoldersAsSevenZipsExtractCommandDoes) {
    if (!HaveProgram("7zz")) GTEST_SKIP() << "7zz is not installed";
    const ToolResult flat = Run({"extract", "-q", "tree.7z", "-j", "-o", "flat", "--exclude", "docs/readme.txt"});
    EXPECT_EQ(flat.code, 0) << flat.err;
    Shell("7zz e -bd -y -opeer tree.7z -x!docs/readme.txt");
    // 7zz e makes a folder for each folder entry, by its last name; flattened, there are none.
    EXPECT_EQ(TreeOf(Path("flat")), Files("peer"));

    // Two files of one name: the second is an error, as a file already there is.
    const ToolResult clash = Run({"extract", "tree.tar", "-j", "-o", "clash", "**/readme.txt"});
    EXPECT_EQ(clash.code, 1);
    EXPECT_EQ(clash.err, "zorvik: readme.txt: exists (use --overwrite or --skip-existing)\n");
    EXPECT_EQ(ReadFile(Path("clash/readme.txt")), "inner readme\n") << "the first, in the archive's order, is kept";
}

}  // namespace
}  // namespace Zorvik::Cli::Testing
