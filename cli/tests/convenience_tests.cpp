// What users expect of the command line around the archive itself: data on standard output,
// an archive from a pipe, the versions, a closing line, manual pages and completion.
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>

#include "cli/tests/ToolTesting.h"

namespace Zorvik::Cli::Testing {
namespace {

std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char chunk[4096];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
        ::pclose(pipe);
    }
    return text;
}

TEST_F(ToolTest, StandardOutputHoldsTheChosenFilesDataAsThePeersGiveIt) {
    if (!HaveProgram("bsdtar")) GTEST_SKIP() << "bsdtar is not installed";
    Shell("tar -cf ../tree.tar docs empty readme.txt zero.txt", "src");
    const ToolResult out = Run({"extract", "-q", "tree.tar", "-O", "docs", "readme.txt"});
    EXPECT_EQ(out.code, 0) << out.err;
    EXPECT_EQ(out.err, "");
    EXPECT_EQ(out.out, Output("cd '" + root_.string() + "' && bsdtar -xOf tree.tar docs readme.txt"));
    EXPECT_FALSE(fs::exists(Path("-")));

    // Copies of one file in a RAR archive are decoded once into all of them: each comes whole,
    // right after the file it copies.
    if (!HaveProgram("rar")) GTEST_SKIP() << "rar is not installed";
    const std::string copy = Noise(300000, 7), other = Noise(1000, 8);
    for (const char* name : {"one.bin", "two.bin", "three.bin"}) WriteFile(Path(std::string("copies/") + name), copy);
    WriteFile(Path("copies/other.bin"), other);
    Shell("rar a -inul -oi:1 ../copies.rar one.bin two.bin other.bin three.bin", "copies");
    const ToolResult copies = Run({"extract", "-q", "copies.rar", "-O"});
    EXPECT_EQ(copies.code, 0) << copies.err;
    EXPECT_TRUE(copies.out == copy + copy + copy + other) << copies.out.size() << " bytes";
    EXPECT_TRUE(Run({"extract", "-q", "copies.rar", "-O", "three.bin"}).out == copy);

    const ToolResult usage = Run({"extract", "tree.tar", "-o", "-"});
    EXPECT_EQ(usage.code, 2);
    EXPECT_FALSE(fs::exists(Path("-")));
}

TEST_F(ToolTest, AnArchiveFromAPipeIsReadIntoATemporaryFileRemovedAtExit) {
    Shell("tar -czf ../tree.tar.gz docs readme.txt && mkfifo ../pipe", "src");
    const auto expected = JsonPaths(ListJson("tree.tar.gz"));
    const std::string here = "cd '" + root_.string() + "' && ", tool = "ZORVIK_TEMP=.temp " ZORVIK_CLI;
    // Standard input, and a named pipe given as the archive.
    for (const std::string& command : {here + tool + " list --json - < tree.tar.gz", here + "cat tree.tar.gz | " + tool + " list --json -",
                                       here + "(cat tree.tar.gz > pipe &) && " + tool + " list --json pipe"}) {
        SCOPED_TRACE(command);
        const std::string listed = Output(command);
        EXPECT_EQ(JsonPaths(nlohmann::json::parse(listed)), expected);
        EXPECT_TRUE(!fs::exists(Path(".temp")) || fs::is_empty(Path(".temp"))) << "the copy is gone";
    }
    const std::string extracted = Output(here + "cat tree.tar.gz | " + tool + " extract -q - -o out 2>&1; echo $?");
    EXPECT_EQ(extracted, "0\n");
    EXPECT_EQ(ReadFile(Path("out/docs/deep/data.bin")), Noise(70000));
}

TEST_F(ToolTest, VersionsAndTheClosingLineOfARun) {
    const ToolResult version = Run({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(Run({"version"}).out, version.out);
    // fnmatch, not std::regex: g++ 12 warns inside <regex> under the sanitizers.
    EXPECT_EQ(::fnmatch("zorvik [0-9]*.[0-9]*.[0-9]*\ncomponent [0-9]*\narchive engine [0-9]*.[0-9]*\n", version.out.c_str(), 0), 0)
        << version.out;
    if (HaveProgram("7zz")) {
        // The engine is built from the source 7zz comes from.
        const std::string banner = Output("7zz i 2>/dev/null | head -3");
        const std::string engine = version.out.substr(version.out.rfind(' ') + 1);
        EXPECT_NE(banner.find(" " + engine.substr(0, engine.size() - 1) + " "), std::string::npos) << banner;
    }

    Shell("7z a -bd ../tree.7z .", "src");
    const ToolResult extracted = Run({"extract", "tree.7z", "-o", "out"});
    EXPECT_EQ(::fnmatch("tree.7z: OK, 4 files extracted, 73.3 KiB, [0-9]*.[0-9] s\n", extracted.out.c_str(), 0), 0) << extracted.out;
    EXPECT_EQ(Run({"test", "-q", "tree.7z"}).out, "") << "--quiet silences it";
}

TEST_F(ToolTest, TheListingsTimesAreUtcUnlessTheLocalZoneIsAskedFor) {
    Shell("tar -cf ../tree.tar readme.txt", "src");
    const std::map<std::string, std::string> tokyo{{"TZ", "Asia/Tokyo"}};
    const ToolResult utc = Run({"list", "tree.tar"}, tokyo);
    EXPECT_EQ(utc.out.rfind("Modified (UTC)", 0), 0u) << utc.out;
    EXPECT_NE(utc.out.find("2024-05-01 10:20:30"), std::string::npos) << utc.out;
    const ToolResult local = Run({"list", "tree.tar", "--local-time"}, tokyo);
    EXPECT_EQ(local.out.rfind("Modified (local)", 0), 0u) << local.out;
    EXPECT_NE(local.out.find("2024-05-01 19:20:30"), std::string::npos) << local.out;
}

TEST_F(ToolTest, ManualPagesAndCompletionAreMadeFromTheHelpText) {
    const fs::path share = fs::path(ZORVIK_CLI).parent_path().parent_path() / "share";
    for (const std::string command : {"formats", "info", "list", "extract", "test", "version"}) {
        SCOPED_TRACE(command);
        const fs::path page = share / ("man/man1/zorvik-" + command + ".1");
        ASSERT_TRUE(fs::exists(page));
        std::string title = "ZORVIK-" + command;
        std::transform(title.begin(), title.end(), title.begin(), ::toupper);
        EXPECT_EQ(ReadFile(page).rfind(".TH " + title + " 1 ", 0), 0u);
        if (!HaveProgram("groff")) continue;
        // Rendered on lines too long to wrap, the page says word for word what --help says.
        const std::string rendered = Output("groff -man -Tascii -ww -rLL=2000n -P-cbou '" + page.string() + "' 2>&1");
        const auto words = [](const std::string& text) {
            std::vector<std::string> list;
            std::istringstream in(text);
            for (std::string word; in >> word;) list.push_back(word);
            return list;
        };
        const std::string help = Run({command, "--help"}).out;
        const std::string description = help.substr(help.find("DESCRIPTION\n"), help.find("\nOPTIONS\n") - help.find("DESCRIPTION\n"));
        std::string renderedText;
        for (const auto& word : words(rendered)) renderedText += word + " ";
        std::string descriptionText;
        for (const auto& word : words(description)) descriptionText += word + " ";
        EXPECT_NE(renderedText.find(descriptionText), std::string::npos) << rendered;
        EXPECT_EQ(rendered.find("warning"), std::string::npos) << rendered;
    }
    const fs::path completion = share / "bash-completion/completions/zorvik";
    const auto complete = [&](const std::string& words, int current) {
        return Output("bash -c 'source \"" + completion.string() + "\"; COMP_WORDS=(" + words + "); COMP_CWORD=" + std::to_string(current) +
                      "; _zorvik; echo ${COMPREPLY[@]}'");
    };
    EXPECT_EQ(complete("zorvik ex", 1), "extract\n");
    EXPECT_EQ(complete("zorvik extract --pres", 2), "--preserve-permissions\n");
    EXPECT_EQ(complete("zorvik list --loc", 2), "--local-time\n");
}

}  // namespace
}  // namespace Zorvik::Cli::Testing
