// Modes and links as extract restores them and as create stores them, side by side with the
// peers on the same archives and trees, and links that would lead outside the destination,
// whatever the order of the entries.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "cli/tests/ToolTesting.h"

namespace Zorvik::Cli::Testing {
namespace {

// What a folder holds as "path: description": type, permission bits and content for files,
// the target for links, and for a second name of one file the first name ("= first").
std::map<std::string, std::string> Described(const fs::path& folder, bool hardLinks = true) {
    std::map<std::string, std::string> tree;
    std::map<std::pair<dev_t, ino_t>, std::string> firstNames;
    std::vector<fs::path> paths;
    for (const auto& item : fs::recursive_directory_iterator(folder)) paths.push_back(item.path());
    std::sort(paths.begin(), paths.end());
    for (const fs::path& path : paths) {
        struct stat info {};
        EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
        const std::string relative = path.lexically_relative(folder).generic_string();
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", info.st_mode & 07777);
        if (S_ISLNK(info.st_mode)) {
            tree[relative] = "link to " + fs::read_symlink(path).string() + " at " + std::to_string(info.st_mtim.tv_sec);
        } else if (S_ISDIR(info.st_mode)) {
            tree[relative] = std::string("folder ") + mode;
        } else if (const auto [first, inserted] = firstNames.try_emplace({info.st_dev, info.st_ino}, relative); hardLinks && !inserted) {
            tree[relative] = "= " + first->second;
        } else {
            tree[relative] = std::string("file ") + mode + " " + ReadFile(path) + " at " + std::to_string(info.st_mtim.tv_sec);
        }
    }
    return tree;
}

class Links : public ToolTest {
protected:
    static constexpr mode_t kUmask = 027;

    void SetUp() override {
        ToolTest::SetUp();
        saved_ = ::umask(kUmask);  // every tool of a test runs under it
        fs::create_directories(Path("tree/bin"));
        ::chmod(Path("tree/bin").c_str(), 0755);
        WriteFile(Path("tree/bin/run.sh"), "#!/bin/sh\n");
        WriteFile(Path("tree/private.key"), "secret\n");
        WriteFile(Path("tree/bin/notes.txt"), "notes\n");
        ::chmod(Path("tree/bin/run.sh").c_str(), 0755);
        ::chmod(Path("tree/private.key").c_str(), 0600);
        ::chmod(Path("tree/bin/notes.txt").c_str(), 0644);
        fs::create_symlink("bin/notes.txt", Path("tree/notes"));
        fs::create_directory_symlink("bin", Path("tree/tools"));
        fs::create_hard_link(Path("tree/bin/notes.txt"), Path("tree/notes.hard"));
        for (const char* name : {"bin/run.sh", "private.key", "bin/notes.txt", "notes", "tools"})
            SetModified(Path(std::string("tree/") + name), kNotesTime);
    }
    void TearDown() override {
        ::umask(saved_);
        ToolTest::TearDown();
    }

    // The source tree as an extraction under the umask gives it back.
    std::map<std::string, std::string> Expected(bool hardLinks) const {
        auto expected = Described(Path("tree"), hardLinks);
        for (auto& [path, description] : expected) {
            if (description.rfind("file ", 0) != 0 && description.rfind("folder ", 0) != 0) continue;
            const auto at = description.find(' ') + 1;
            const auto bits = std::stoul(description.substr(at, 4), nullptr, 8) & 0777 & ~kUmask;
            char mode[8];
            std::snprintf(mode, sizeof mode, "%04lo", bits);
            description.replace(at, 4, mode);
        }
        return expected;
    }

private:
    mode_t saved_ = 022;
};

struct Maker {
    const char* label;
    const char* program;
    const char* archive;
    const char* command;  // run inside tree
    bool hardLinks;       // the format keeps them
    bool peerReads;       // 7zz extracts it (Debian's 7zz reads no RAR)
};

void PrintTo(const Maker& maker, std::ostream* out) { *out << maker.label; }

class LinkRoundTrip : public Links, public ::testing::WithParamInterface<Maker> {};

TEST_P(LinkRoundTrip, ModesUnderTheUmaskAndLinksAsLinksAs7zzGivesThem) {
    const Maker& maker = GetParam();
    if (!HaveProgram(maker.program)) GTEST_SKIP() << maker.program << " is not installed";
    Shell(maker.command, "tree");

    const ToolResult extracted = Run({"extract", "-q", maker.archive, "-o", "out"});
    EXPECT_EQ(extracted.code, 0) << extracted.err;
    EXPECT_EQ(Described(Path("out")), Expected(maker.hardLinks));
    if (maker.peerReads && HaveProgram("7zz")) {
        Shell(std::string("7zz x -bd -y -opeer ") + maker.archive);
        EXPECT_EQ(Described(Path("out")), Described(Path("peer"))) << "as 7zz extracts it";
    }
}

INSTANTIATE_TEST_SUITE_P(Archivers, LinkRoundTrip,
                         ::testing::Values(Maker{"GnuTar", "tar", "a.tar", "tar -cf ../a.tar .", true, true},
                                           Maker{"BsdTar", "bsdtar", "b.tar", "bsdtar -cf ../b.tar .", true, true},
                                           Maker{"BsdTarZip", "bsdtar", "b.zip", "bsdtar --format zip -cf ../b.zip .", false, true},
                                           Maker{"SevenZip", "7zz", "a.7z", "7zz a -snl -bd ../a.7z .", false, true},
                                           Maker{"InfoZip", "zip", "a.zip", "zip -qry ../a.zip .", false, true},
                                           Maker{"Rar", "rar", "a.rar", "rar a -r -ol -oh -inul ../a.rar .", true, false},
                                           Maker{"RockRidge", "xorriso", "a.iso", "xorriso -as mkisofs -quiet -R -o ../a.iso .", false,
                                                 true}),
                         [](const auto& info) { return std::string(info.param.label); });

// What `7zz l -slt` tells of each entry: "path: size, attributes (or tar's mode) -> link target".
std::map<std::string, std::string> SevenZipListing(const fs::path& archive) {
    std::map<std::string, std::string> listing;
    const std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(("7zz l -slt -ba '" + archive.string() + "'").c_str(), "r"), ::pclose);
    std::string path;
    char line[4096];
    while (pipe && std::fgets(line, sizeof line, pipe.get())) {
        std::string text(line);
        text.erase(text.find_last_not_of('\n') + 1);
        const auto equals = text.find(" = ");
        if (equals == std::string::npos) continue;
        const std::string key = text.substr(0, equals), value = text.substr(equals + 3);
        if (key == "Path") path = value;
        if (key == "Size") listing[path] += value + ",";
        if (key == "Attributes" || key == "Mode") listing[path] += " " + value;
        if (key == "Symbolic Link" && !value.empty()) listing[path] += " -> " + value;
    }
    return listing;
}

class CreatedLinks : public Links, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        Links::SetUp();
        if (!HaveProgram("7zz")) GTEST_SKIP() << "7zz is not installed";
    }
    std::string Archive(const std::string& name) const { return name + "." + GetParam(); }
};

TEST_P(CreatedLinks, KeepModesAndLinksAs7zzSnlStoresThemAndThePeersExtractThem) {
    const std::string ours = Archive("ours"), peer = Archive("peer");
    const ToolResult created = Run({"create", "-q", ours, "tree"});
    ASSERT_EQ(created.code, 0) << created.err;
    Shell("7zz a -snl -bd " + peer + " tree");
    EXPECT_EQ(SevenZipListing(Path(ours)), SevenZipListing(Path(peer)));

    // A second name of one file is stored as a copy, as 7zz stores it without -snh.
    const auto expected = Expected(false);
    Shell("7zz x -snl -bd -y -oby-7zz " + ours);
    EXPECT_EQ(Described(Path("by-7zz/tree"), false), expected) << "as 7zz extracts it";
    if (HaveProgram("bsdtar")) {
        fs::create_directories(Path("by-bsdtar"));
        Shell("bsdtar -xf " + ours + " --no-same-permissions -C by-bsdtar");
        EXPECT_EQ(Described(Path("by-bsdtar/tree"), false), expected) << "as bsdtar extracts it";
    }
}

TEST_P(CreatedLinks, DereferenceStoresWhatLinksPointToAs7zzDoesByDefault) {
    const std::string ours = Archive("ours"), peer = Archive("peer");
    const ToolResult created = Run({"create", "-q", "--dereference", ours, "tree"});
    ASSERT_EQ(created.code, 0) << created.err;
    Shell("7zz a -bd " + peer + " tree");
    EXPECT_EQ(SevenZipListing(Path(ours)), SevenZipListing(Path(peer))) << "files and folders in the links' places";

    // 7zz follows a link to a folder that holds it until the names grow too long.
    fs::create_directory_symlink("..", Path("tree/bin/up"));
    const ToolResult looped = Run({"create", "-q", "-L", Archive("looped"), "tree"});
    EXPECT_EQ(looped.code, 1);
    EXPECT_EQ(looped.err,
              "zorvik: tree/bin/up: left out: a symbolic link to a folder that holds it\n"
              "zorvik: tree/tools/up: left out: a symbolic link to a folder that holds it\n");
}

INSTANTIATE_TEST_SUITE_P(Formats, CreatedLinks, ::testing::Values("7z", "zip", "tar"),
                         [](const auto& info) { return std::string(info.param); });

TEST_F(Links, PreservePermissionsGivesTheArchivesBitsExactlyAndLinksAsFilesMakesNone) {
    ::chmod(Path("tree/bin/run.sh").c_str(), 04755);
    ::chmod(Path("tree").c_str(), 0777);
    Shell("tar -cf ../a.tar .", "tree");
    fs::create_directories(Path("exact"));
    ::chmod(Path("exact").c_str(), 0700);

    EXPECT_EQ(Run({"extract", "-q", "a.tar", "-o", "exact", "--preserve-permissions"}).code, 0);
    EXPECT_EQ(fs::status(Path("exact")).permissions(), fs::perms(0700)) << "the entry ./ leaves the destination's own mode alone";
    auto exact = Expected(true);
    exact["bin/run.sh"].replace(5, 4, "4755");
    exact["bin"].replace(7, 4, "0755");
    exact["bin/notes.txt"].replace(5, 4, "0644");
    EXPECT_EQ(Described(Path("exact")), exact) << "setuid and the bits the umask takes are kept";

    EXPECT_EQ(Run({"extract", "-q", "a.tar", "-o", "plain", "--links-as-files"}).code, 0);
    const auto plain = Described(Path("plain"));
    EXPECT_EQ(plain.at("notes"), "file 0640 bin/notes.txt at " + std::to_string(kNotesTime));
    EXPECT_EQ(plain.at("tools"), "file 0640 bin at " + std::to_string(kNotesTime));
    EXPECT_EQ(plain.at("notes.hard"), "file 0640 notes\n at " + std::to_string(kNotesTime)) << "a copy, not a second name";
}

TEST_F(Links, Rar4LinksComeThroughTheEngine) {
    const fs::path sample = fs::path(ZORVIK_SOURCE_DIR) / "../shared/fixtures/rar4/test_read_format_rar.rar";
    if (!fs::exists(sample)) GTEST_SKIP() << "RAR 4 sample missing: " << sample;
    const ToolResult extracted = Run({"extract", "-q", sample.string(), "-o", "out"});
    EXPECT_EQ(extracted.code, 0) << extracted.err;
    EXPECT_EQ(fs::read_symlink(Path("out/testlink")), "test.txt");
    EXPECT_EQ(ReadFile(Path("out/testlink")), ReadFile(Path("out/test.txt")));
    EXPECT_EQ(fs::status(Path("out/test.txt")).permissions(), fs::perms(0640)) << "0644 under the umask";
}

TEST_F(Links, AHardLinkWhoseTargetIsNotExtractedIsReported) {
    Shell("tar -cf ../a.tar bin notes.hard", "tree");
    const ToolResult alone = Run({"extract", "a.tar", "-o", "out", "notes.hard"});
    EXPECT_EQ(alone.code, 1);
    EXPECT_EQ(alone.err, "zorvik: notes.hard: not made: its target bin/notes.txt was not extracted\n");
    EXPECT_FALSE(fs::exists(fs::symlink_status(Path("out/notes.hard"))));
}

// Links that lead outside the destination: every way there, in every order of the entries.
struct Hostile {
    const char* label;
    std::vector<std::pair<const char*, const char*>> links;  // name, target ("@" stands for the scratch folder)
    std::vector<const char*> refused;                        // the names reported
};

void PrintTo(const Hostile& hostile, std::ostream* out) { *out << hostile.label; }

class HostileLinks : public Links, public ::testing::WithParamInterface<Hostile> {};

TEST_P(HostileLinks, CreateNothingOutsideAndAreReportedInEitherOrder) {
    const Hostile& hostile = GetParam();
    fs::create_directories(Path("maker/sub"));
    fs::create_directories(Path("outside"));
    fs::create_directories(Path("jail/out"));
    WriteFile(Path("maker/sub/plain.txt"), "plain\n");
    std::vector<std::string> names{"sub/plain.txt"};
    for (const auto& [name, target] : hostile.links) {
        std::string resolved = target;
        if (resolved.front() == '@') resolved = root_.string() + resolved.substr(1);
        fs::create_directories(Path("maker/" + std::string(name)).parent_path());
        fs::create_symlink(resolved, Path("maker/" + std::string(name)));
        names.push_back(name);
    }
    std::string forward, backward;
    for (const auto& name : names) forward += " '" + name + "'";
    for (auto name = names.rbegin(); name != names.rend(); ++name) backward += " '" + *name + "'";
    Shell("tar --no-recursion -cf ../forward.tar" + forward + " && tar --no-recursion -cf ../backward.tar" + backward, "maker");

    for (const char* archive : {"forward.tar", "backward.tar"}) {
        SCOPED_TRACE(archive);
        fs::remove_all(Path("jail/out"));
        const ToolResult result = Run({"extract", "-q", archive, "-o", "jail/out"});
        EXPECT_EQ(result.code, 1);
        for (const char* name : hostile.refused) {
            EXPECT_NE(result.err.find(std::string("zorvik: ") + name + ": refused: "), std::string::npos) << result.err;
            EXPECT_FALSE(fs::exists(fs::symlink_status(Path("jail/out/" + std::string(name))))) << name << " was made";
        }
        EXPECT_TRUE(fs::is_empty(Path("outside")));
        EXPECT_EQ(ReadFile(Path("jail/out/sub/plain.txt")), "plain\n") << "the rest is extracted";
        // What was made stays inside when followed.
        for (const auto& item : fs::recursive_directory_iterator(Path("jail/out"))) {
            std::error_code error;
            const fs::path real = fs::canonical(item.path(), error);
            if (!error) {
                EXPECT_EQ(real.string().rfind(fs::canonical(Path("jail/out")).string(), 0), 0u) << item.path() << " leads to " << real;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Ways, HostileLinks,
                         ::testing::Values(Hostile{"Absolute", {{"abs", "@/outside"}}, {"abs"}},
                                           Hostile{
                                               "AboveTheFolder", {{"up", "../../outside"}, {"sub/up", "../../outside"}}, {"up", "sub/up"}},
                                           // Each alone stays inside; "chain" goes through "sub/top", which is the
                                           // destination itself, and from there one above.
                                           Hostile{"ThroughAnotherLink", {{"sub/top", ".."}, {"chain", "sub/top/../outside"}}, {"chain"}},
                                           Hostile{"ThroughARefusedLink", {{"away", "../outside"}, {"via", "away/x"}}, {"away", "via"}},
                                           Hostile{"LoopOfLinks", {{"a", "b/x"}, {"b", "a/y"}}, {"a", "b"}}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(Links, AFileBelowALinkOfTheArchiveIsRefusedInEitherOrder) {
    fs::create_directories(Path("maker/real"));
    WriteFile(Path("maker/real/file"), "through the link\n");
    fs::create_symlink("real", Path("maker/inside"));
    fs::create_directories(Path("outside"));
    fs::create_symlink(Path("outside"), Path("maker/away"));
    // Entries named inside/file and away/file come after (or before) the links themselves.
    Shell(
        "tar -cf ../after.tar inside away && tar -rf ../after.tar --transform='s,^real/file$,inside/file,' real/file"
        " && tar -rf ../after.tar --transform='s,^real/file$,away/file,' real/file"
        " && tar -cf ../before.tar --transform='s,^real/file$,away/file,' real/file && tar -rf ../before.tar inside away",
        "maker");
    for (const char* archive : {"after.tar", "before.tar"}) {
        SCOPED_TRACE(archive);
        const std::string out = std::string("out-") + archive;
        const ToolResult result = Run({"extract", "-q", archive, "-o", out});
        EXPECT_EQ(result.code, 1);
        EXPECT_NE(result.err.find(": refused: path goes through a symbolic link (away)"), std::string::npos) << result.err;
        EXPECT_TRUE(fs::is_empty(Path("outside")));
        EXPECT_FALSE(fs::exists(fs::symlink_status(Path(out + "/away"))));
    }
    EXPECT_EQ(fs::read_symlink(Path("out-after.tar/inside")), "real") << "a link inside is made";
    EXPECT_FALSE(fs::exists(Path("out-after.tar/real/file"))) << "nor is the file below it written through it";
}

}  // namespace
}  // namespace Zorvik::Cli::Testing
