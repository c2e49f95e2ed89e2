// The writing commands: archives every writable format reads back in 7zz, the command line's
// contract (exit codes, refusals, conflicts, passwords), and that the archive is replaced whole or
// not at all, whatever happens meanwhile.
#include <signal.h>
#include <string.h>
#include <sys/mount.h>

#include <chrono>
#include <thread>

#include "cli/tests/ToolTesting.h"
#include "zorvik/runtime/com_ptr.h"
#include "zorvik/runtime/win32.h"

namespace Zorvik::Cli::Testing {
namespace {

using namespace std::chrono_literals;

bool SevenZip(const std::string& arguments, const fs::path& folder) {
    return std::system(("cd '" + folder.string() + "' && 7zz " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

// Temporary files a writing command left in folder.
std::vector<std::string> Leftovers(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder))
        if (item.path().filename().string().find(".zorvik-") != std::string::npos) names.push_back(item.path().filename().string());
    return names;
}

class Writing : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        if (!HaveProgram("7zz")) GTEST_SKIP() << "7zz is not installed";
        WriteFile(Path("src/ünïcødé/naïve.txt"), "non-ASCII\n");
        SetModified(Path("src/ünïcødé/naïve.txt"), kNotesTime);
        SetModified(Path("src/ünïcødé"), kFolderTime);
    }

    // A slow write: 24 MiB that do not compress, at the highest level.
    void MakeLargeFile() const { WriteFile(Path("large.bin"), Noise(24 << 20, 7)); }

    // Waits until a command writing into the scratch root has its temporary file going.
    void AwaitTemporaryFile() const {
        for (auto deadline = std::chrono::steady_clock::now() + 30s; std::chrono::steady_clock::now() < deadline;
             std::this_thread::sleep_for(10ms))
            for (const auto& name : Leftovers(root_))
                if (fs::file_size(Path(name)) > 0) return;
        FAIL() << "the command never started writing";
    }
};

struct RoundTrip {
    const char* archive;
    const char* path;    // what is stored
    const char* single;  // for a single-file format: the name its file comes back under
};

TEST_F(Writing, EveryWritableFormatRoundTrips) {
    const RoundTrip cases[] = {
        {"tree.7z", "src", nullptr},
        {"tree.zip", "./src/", nullptr},
        {"tree.tar", "src", nullptr},
        {"tree.wim", "src", nullptr},
        {"notes.txt.gz", "src/docs/notes.txt", "notes.txt"},
        {"notes.txt.bz2", "src/docs/notes.txt", "notes.txt"},
        {"notes.txt.xz", "src/docs/notes.txt", "notes.txt"},
    };
    for (const RoundTrip& trip : cases) {
        SCOPED_TRACE(trip.archive);
        const ToolResult created = Run({"create", trip.archive, trip.path});
        ASSERT_EQ(created.code, 0) << created.err;
        EXPECT_EQ(Leftovers(root_), std::vector<std::string>{});
        EXPECT_TRUE(SevenZip(std::string("t ") + trip.archive, root_));

        const std::string peer = std::string("peer-") + trip.archive, ours = std::string("ours-") + trip.archive;
        fs::create_directories(Path(peer));
        ASSERT_TRUE(SevenZip("x ../" + std::string(trip.archive), Path(peer)));
        const ToolResult extracted = Run({"extract", trip.archive, "-o", ours});
        EXPECT_EQ(extracted.code, 0) << extracted.err;
        if (!trip.single) {
            EXPECT_EQ(TreeOf(Path(peer) / "src"), TreeOf(Path("src"))) << "7zz x gives back the tree, times included";
            EXPECT_EQ(TreeOf(Path(ours) / "src"), TreeOf(Path("src")));
        } else {
            EXPECT_EQ(ReadFile(Path(peer) / trip.single), std::string(5000, 'n'));
            EXPECT_EQ(ReadFile(Path(ours) / trip.single), std::string(5000, 'n'));
        }
    }
    EXPECT_EQ(fs::status(Path("tree.7z")).permissions() & fs::perms::all, fs::perms(0666 &
                                                                                    ~[] {
                                                                                        const mode_t mask = ::umask(0);
                                                                                        ::umask(mask);
                                                                                        return mask;
                                                                                    }()))
        << "a new archive gets the usual mode";
}

struct ContractCase {
    const char* label;
    std::vector<std::string> args;
    int code;
    const char* message;  // on stderr, or on stdout for a success
    bool archiveChanges;
};

TEST_F(Writing, CommandsKeepTheirContract) {
    Shell("7zz a -bd ../base.7z .", "src");
    WriteFile(Path("new.txt"), "new\n");
    if (HaveProgram("rar")) Shell("rar a -idq ../base.rar readme.txt", "src");
    const ContractCase cases[] = {
        {"add", {"add", "base.7z", "new.txt", "--to", "docs"}, 0, "1 added", true},
        {"a clash without a terminal",
         {"add", "base.7z", "new.txt", "--to", "docs"},
         1,
         "docs/new.txt: exists in base.7z (see --on-conflict)",
         false},
        {"a clash skipped", {"add", "base.7z", "new.txt", "--to", "docs", "--on-conflict", "skip"}, 0, "nothing to update", false},
        {"a file where a folder is needed",
         {"add", "base.7z", "new.txt", "--to", "readme.txt"},
         1,
         "the file readme.txt stands where",
         false},
        {"remove a missing entry", {"remove", "base.7z", "docs", "no/such"}, 1, "no/such: no such entry in base.7z", false},
        {"rename onto another entry", {"rename", "base.7z", "zero.txt", "readme.txt"}, 1, "readme.txt: exists in base.7z", false},
        {"rename with a path", {"rename", "base.7z", "zero.txt", "a/b"}, 2, "one name, without", false},
        {"move into itself", {"move", "base.7z", "docs", "--to", "docs/deep"}, 2, "cannot be moved into itself", false},
        {"move to the root", {"move", "base.7z", "docs/deep", "--to", "/"}, 0, "2 moved", true},
        {"store a path with ..", {"add", "base.7z", "../x"}, 2, "a path with \"..\" cannot be stored", false},
        {"a method the format lacks", {"add", "base.7z", "new.txt", "--method", "Deflate"}, 2, "7z offers the methods", false},
        {"create over an archive", {"create", "base.7z", "new.txt"}, 1, "exists (give --force", false},
        {"a RAR archive", {"add", "base.rar", "new.txt"}, 1, "cannot be written: Rar", false},
        {"a tar in a gzip", {"add", "base.tar.gz", "new.txt"}, 1, "cannot be written: a tar inside gzip", false},
        {"a tar in an xz", {"remove", "base.txz", "readme.txt"}, 1, "cannot be written: a tar inside xz", false},
        {"an archive of volumes", {"add", "vol.7z.001", "new.txt"}, 1, "cannot be written: an archive of several volumes", false},
        {"remove an empty path", {"remove", "base.7z", ""}, 1, "\"\": no such entry in base.7z", false},
        {"remove the root", {"remove", "base.7z", "/"}, 1, "/: no such entry in base.7z", false},
        {"a password tar cannot use", {"create", "new.tar", "new.txt", "--password", "x"}, 2, "tar cannot encrypt", false},
        {"a password gzip cannot use", {"create", "new.txt.gz", "new.txt", "-p", "x"}, 2, "gzip cannot encrypt", false},
        {"a level tar does not have", {"create", "new.tar", "new.txt", "--level", "9"}, 2, "has no compression levels", false},
        {"a read-only archive", {"add", "readonly.7z", "new.txt"}, 1, "readonly.7z: read-only", false},
        {"a read-only archive replaced", {"create", "readonly.7z", "new.txt", "--force"}, 1, "readonly.7z: read-only", false},
        {"a solid encrypted block without its password", {"remove", "solid.7z", "readme.txt"}, 4, "password missing", false},
        {"a solid encrypted block with a wrong password", {"remove", "solid.7z", "readme.txt", "-p", "wrong"}, 4, "wrong password", false},
    };
    Shell("tar -czf ../base.tar.gz readme.txt && tar -cJf ../base.txz readme.txt", "src");
    Shell("head -c 5000 /dev/urandom > noise.bin && 7zz a -bd -v2k vol.7z noise.bin >/dev/null");
    // Read-only for its owner, in a folder the user may write: 7zz refuses it, root or not.
    Shell("cp base.7z readonly.7z && chmod 444 readonly.7z");
    Shell("7zz a -bd -psecret ../solid.7z readme.txt docs >/dev/null", "src");
    for (const ContractCase& contract : cases) {
        SCOPED_TRACE(contract.label);
        if (contract.args[1] == "base.rar" && !fs::exists(Path("base.rar"))) continue;
        const std::string before = ReadFile(Path(contract.args[1]));
        const ToolResult result = Run(contract.args);
        EXPECT_EQ(result.code, contract.code) << result.err;
        EXPECT_NE((contract.code == 0 ? result.out : result.err).find(contract.message), std::string::npos) << result.out << result.err;
        EXPECT_EQ(ReadFile(Path(contract.args[1])) != before, contract.archiveChanges);
        EXPECT_EQ(Leftovers(root_), std::vector<std::string>{});
    }
    const ToolResult unused = Run({"create", "env.tar", "new.txt"}, {{"ZORVIK_PASSWORD", "secret"}});
    EXPECT_EQ(unused.code, 0);
    EXPECT_EQ(unused.err, "zorvik: env.tar: ZORVIK_PASSWORD is not used: tar cannot encrypt\n") << "set for every command, it is only said";
    EXPECT_EQ(Run({"rename", "base.7z", "zero.txt", "nil.txt", "-q"}).out, "") << "--quiet leaves out the closing line";
    EXPECT_TRUE(SevenZip("t base.7z", root_));

    for (const char* command : {"create", "add", "remove", "rename", "move"}) {
        const ToolResult help = Run({command, "--help"});
        EXPECT_EQ(help.code, 0) << command;
        EXPECT_NE(help.out.find("EXIT STATUS\n"), std::string::npos) << command;
    }
}

// Names no archiver should write, but some archives hold: bsdtar -P keeps them as given, and
// Python's zipfile writes what it is told.
const char* const kHostileNames = R"(python3 -c '
import zipfile
with zipfile.ZipFile("hostile.zip", "w") as archive:
    for name in ["../evil", "d//z.txt", "./dot.txt", "a/../b.txt", "/abs.txt", "set[1].txt", "ok.txt"]:
        archive.writestr(name, "x\n")
' && mkdir names && cd names && for f in evil z.txt dot.txt b.txt set.txt ok.txt; do echo x > $f; done &&
bsdtar -cPf ../hostile.tar -s ",^evil$,../evil," -s ",^z.txt$,d//z.txt," -s ",^dot.txt$,./dot.txt," -s ",^b.txt$,a/../b.txt," \
  -s ",^set.txt$,set[1].txt," evil z.txt dot.txt b.txt set.txt ok.txt)";

TEST_F(Writing, EveryPathListPrintsCanBeNamed) {
    Shell(kHostileNames);
    for (const char* archive : {"hostile.zip", "hostile.tar"}) {
        std::vector<std::string> files;
        const auto listing = ListJson(archive);
        for (const auto& entry : listing["entries"])
            if (!entry["folder"].get<bool>()) files.push_back(entry["path"]);
        ASSERT_GE(files.size(), 6u) << archive;
        for (const std::string& path : files) {
            SCOPED_TRACE(std::string(archive) + " " + path);
            const std::string copy = std::string("copy-") + archive;
            fs::copy_file(Path(archive), Path(copy), fs::copy_options::overwrite_existing);
            const ToolResult removed = Run({"remove", copy, path});
            EXPECT_EQ(removed.code, 0) << removed.err;
            auto left = JsonPaths(ListJson(copy));
            EXPECT_EQ(std::count(left.begin(), left.end(), path), 0);
            EXPECT_EQ(std::count(left.begin(), left.end(), "ok.txt") + (path == "ok.txt"), 1) << "and nothing else goes";

            fs::copy_file(Path(archive), Path(copy), fs::copy_options::overwrite_existing);
            const ToolResult renamed = Run({"rename", copy, path, "renamed.txt"});
            EXPECT_EQ(renamed.code, 0) << renamed.err;
            const std::string folder = path.substr(0, path.rfind('/') + 1);
            left = JsonPaths(ListJson(copy));
            EXPECT_EQ(std::count(left.begin(), left.end(), folder + "renamed.txt"), 1) << "in the same folder";

            // Named, it is chosen; what is refused is writing such a name.
            const ToolResult extracted = Run({"extract", archive, "-o", "out", path});
            EXPECT_EQ(extracted.err.find("no such entry"), std::string::npos) << extracted.err;
        }
    }
}

struct Streamed {
    const char* format;
    const char* path;
    const char* decompressor;  // of a single-file format; bsdtar reads the others
};

TEST_F(Writing, CreateToStandardOutputStreamsWhatCanBeWrittenInOrder) {
    // Through a pipe, which cannot seek: the archive is written as it is made.
    const auto create = [&](const std::string& format, const std::string& path, const std::string& out) {
        const std::string line = "cd '" + root_.string() + "' && { ZORVIK_TEMP=.temp '" ZORVIK_CLI "' create - --format " + format + " " +
                                 path + " 2>.err; echo $? >.code; } | cat >" + out;
        EXPECT_EQ(std::system(line.c_str()), 0);
        return std::stoi(ReadFile(Path(".code")));
    };
    for (const Streamed& streamed :
         {Streamed{"tar", "src", nullptr}, Streamed{"zip", "src", nullptr}, Streamed{"gzip", "src/docs/notes.txt", "gzip"},
          Streamed{"bzip2", "src/docs/notes.txt", "bzip2"}, Streamed{"xz", "src/docs/notes.txt", "xz"}}) {
        SCOPED_TRACE(streamed.format);
        const std::string out = std::string("streamed.") + streamed.format;
        ASSERT_EQ(create(streamed.format, streamed.path, out), 0) << ReadFile(Path(".err"));
        EXPECT_TRUE(SevenZip("t " + out, root_));
        if (streamed.decompressor) {
            Shell("{ " + std::string(streamed.decompressor) + " -dc <" + out + " >" + out + ".data; }");
            EXPECT_EQ(ReadFile(Path(out + ".data")), std::string(5000, 'n'));
        } else {
            fs::create_directories(Path("peer-" + out));
            Shell("bsdtar -xf ../" + out, "peer-" + out);
            EXPECT_EQ(TreeOf(Path("peer-" + out) / "src"), TreeOf(Path("src")));
        }
    }
    for (const char* format : {"7z", "wim"}) {
        SCOPED_TRACE(format);
        EXPECT_EQ(create(format, "src", "refused"), 2);
        EXPECT_NE(ReadFile(Path(".err")).find("-: cannot be written to standard output"), std::string::npos) << ReadFile(Path(".err"));
        EXPECT_EQ(fs::file_size(Path("refused")), 0u) << "nothing goes out";
    }
}

TEST_F(Writing, ClashesAreAskedOnTheTerminalAndAnsweredAsTold) {
    Shell("7zz a -bd base.7z src/readme.txt");
    ZORVIK_OPEN_TERMINAL_OR_SKIP(terminal);
    ToolProcess adding({"add", "base.7z", "src/readme.txt", "--json"}, {}, root_, terminal->Name());
    terminal->Type("n\n");
    const ToolResult result = adding.Wait();
    ASSERT_EQ(result.code, 0) << result.err;
    const auto report = nlohmann::json::parse(result.out);
    EXPECT_EQ(report["renamed"], 1);
    EXPECT_EQ(report["result"], "written");
    EXPECT_EQ(report["archiveSize"], fs::file_size(Path("base.7z")));
    const auto listing = ListJson("base.7z");
    ASSERT_EQ(listing["entries"].size(), 3u) << "src, and the two files in it";
    EXPECT_EQ(listing["entries"][2]["path"], "src/readme(1).txt");
}

TEST_F(Writing, AnArchiveOpenedWithAPasswordStaysEncrypted) {
    const std::map<std::string, std::string> password{{"ZORVIK_PASSWORD", "secret"}};
    ASSERT_EQ(ToolProcess({"create", "../locked.7z", "--encrypt-headers", "readme.txt"}, password, Path("src")).Wait().code, 0);
    EXPECT_FALSE(SevenZip("l -p- locked.7z", root_)) << "the names are hidden";
    ::chmod(Path("locked.7z").c_str(), 0640);

    WriteFile(Path("new.txt"), "new\n");
    const ToolResult added = Run({"add", "locked.7z", "new.txt"}, password);
    ASSERT_EQ(added.code, 0) << added.err;
    EXPECT_FALSE(SevenZip("l -p- locked.7z", root_)) << "still hidden";
    EXPECT_FALSE(SevenZip("x -pwrong -oout-wrong locked.7z new.txt", root_));
    ASSERT_TRUE(SevenZip("x -psecret -oout locked.7z new.txt", root_));
    EXPECT_EQ(ReadFile(Path("out/new.txt")), "new\n");
    EXPECT_EQ(fs::status(Path("locked.7z")).permissions() & fs::perms::all, fs::perms(0640)) << "the replaced archive's mode is kept";

    const ToolResult missing = Run({"add", "locked.7z", "new.txt"});
    EXPECT_EQ(missing.code, 4) << "no password to open it";
}

TEST_F(Writing, TwoWritersNeverBothReplaceTheArchive) {
    MakeLargeFile();
    Shell("7zz a -bd ../base.7z readme.txt", "src");
    WriteFile(Path("new.txt"), "new\n");
    ToolProcess slow({"add", "base.7z", "large.bin", "--level", "9", "--quiet"}, {}, root_);
    AwaitTemporaryFile();
    const ToolResult second = Run({"add", "base.7z", "new.txt"});
    EXPECT_EQ(second.code, 5) << second.err;
    EXPECT_EQ(slow.Wait().code, 0);
    std::vector<std::string> paths;
    const auto listing = ListJson("base.7z");
    for (const auto& entry : listing["entries"]) paths.push_back(entry["path"]);
    EXPECT_EQ(paths, (std::vector<std::string>{"readme.txt", "large.bin"}));

    // An extraction in another process holds the component's lock on the archive.
    char real[PATH_MAX];
    ASSERT_NE(::realpath(Path("base.7z").c_str(), real), nullptr);
    std::wstring name = zorvik::rt::to_wide(real);
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towlower(c == L'\\' ? L'_' : c));
    HANDLE held = CreateMutexExW(nullptr, name.c_str(), 0, SYNCHRONIZE);
    ASSERT_EQ(WaitForSingleObjectEx(held, 0, FALSE), WAIT_OBJECT_0);
    const std::string before = ReadFile(Path("base.7z"));
    const ToolResult busy = Run({"add", "base.7z", "new.txt"});
    EXPECT_EQ(busy.code, 5) << busy.err;
    EXPECT_EQ(ReadFile(Path("base.7z")), before);
    ReleaseMutex(held);
    CloseHandle(held);
    EXPECT_EQ(Leftovers(root_), std::vector<std::string>{});
}

struct Signalled {
    const char* command;
    int signal;
    int code;  // 128 + the signal, as a shell reports a process it ended
};

TEST_F(Writing, SignalsAFullDiskAndTheSizeLimitLeaveTheArchiveAsItWas) {
    MakeLargeFile();
    Shell("7zz a -bd ../base.7z readme.txt", "src");
    const std::string before = ReadFile(Path("base.7z"));
    for (const Signalled& signalled : {Signalled{"add", SIGINT, 130}, Signalled{"add", SIGTERM, 143}, Signalled{"create", SIGHUP, 129},
                                       Signalled{"create", SIGTERM, 143}}) {
        SCOPED_TRACE(std::string(signalled.command) + " " + ::strsignal(signalled.signal));
        const std::string archive = signalled.command == std::string("add") ? "base.7z" : "new.7z";
        ToolProcess interrupted({signalled.command, archive, "large.bin", "--level", "9"}, {}, root_);
        AwaitTemporaryFile();
        ::kill(interrupted.Pid(), signalled.signal);
        const ToolResult stopped = interrupted.Wait();
        EXPECT_EQ(stopped.code, signalled.code) << stopped.err;
        EXPECT_NE(stopped.err.find("interrupted"), std::string::npos) << stopped.err;
        EXPECT_EQ(ReadFile(Path("base.7z")), before);
        EXPECT_FALSE(fs::exists(Path("new.7z")));
        EXPECT_EQ(Leftovers(root_), std::vector<std::string>{});
    }

    // Past the file size limit a write fails (SIGXFSZ ends no process of ours): a failure like
    // a full disk.
    const std::string limited =
        "cd '" + root_.string() + "' && ulimit -f 2048 && ZORVIK_TEMP=.temp '" ZORVIK_CLI "' add base.7z large.bin 2>.limited";
    const int status = std::system(limited.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
    EXPECT_NE(ReadFile(Path(".limited")).find("file too large"), std::string::npos) << ReadFile(Path(".limited"));
    EXPECT_EQ(ReadFile(Path("base.7z")), before);
    EXPECT_EQ(Leftovers(root_), std::vector<std::string>{});

    fs::create_directories(Path("small"));
    if (::mount("tmpfs", Path("small").c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "cannot mount a small tmpfs here";
    fs::copy_file(Path("base.7z"), Path("small/base.7z"));
    const ToolResult full = Run({"add", "small/base.7z", "large.bin", "--level", "1"});
    EXPECT_EQ(full.code, 1) << full.err;
    EXPECT_NE(full.err.find("disk full"), std::string::npos) << full.err;
    EXPECT_EQ(ReadFile(Path("small/base.7z")), before);
    EXPECT_EQ(Leftovers(Path("small")), std::vector<std::string>{});
    ::umount(Path("small").c_str());
}

}  // namespace
}  // namespace Zorvik::Cli::Testing
