// How the tool fails: passwords missing or wrong, files that are no archives, damaged
// archives, an archive busy with another operation, and Ctrl-C.
#include <signal.h>
#include <termios.h>

#include <chrono>
#include <thread>

#include "cli/tests/ToolTesting.h"
#include "zorvik/runtime/com_ptr.h"
#include "zorvik/runtime/win32.h"

namespace Zorvik::Cli::Testing {
namespace {

bool Mentions(const ToolResult& result, const std::string& text) { return result.err.find(text) != std::string::npos; }

TEST_F(ToolTest, EncryptedHeadersNeedThePasswordToOpen) {
    Shell("7z a -bd -psecret -mhe=on ../locked.7z .", "src");
    for (const char* command : {"list", "info", "test"}) {
        SCOPED_TRACE(command);
        const ToolResult missing = Run({command, "locked.7z"});
        EXPECT_EQ(missing.code, 4);
        EXPECT_EQ(missing.err, "zorvik: locked.7z: password missing (give --password or set ZORVIK_PASSWORD)\n");
        const ToolResult wrong = Run({command, "locked.7z", "--password", "guess"});
        EXPECT_EQ(wrong.code, 4);
        EXPECT_EQ(wrong.err, "zorvik: locked.7z: wrong password\n");
    }
    const ToolResult fromEnvironment = Run({"info", "locked.7z", "--json"}, {{"ZORVIK_PASSWORD", "secret"}});
    ASSERT_EQ(fromEnvironment.code, 0) << fromEnvironment.err;
    EXPECT_TRUE(nlohmann::json::parse(fromEnvironment.out)["passwordUsed"].get<bool>());
    const ToolResult optionWins = Run({"extract", "locked.7z", "-o", "out", "-p", "secret"}, {{"ZORVIK_PASSWORD", "guess"}});
    EXPECT_EQ(optionWins.code, 0) << optionWins.err;
    EXPECT_EQ(TreeOf(Path("out")), TreeOf(Path("src")));
}

// Waits until the tool has asked for the password.
void AwaitPrompt(const fs::path& errors) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ReadFile(errors).find("Password: ") == std::string::npos && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

TEST_F(ToolTest, OnATerminalThePasswordIsAskedForWithoutEcho) {
    ZORVIK_OPEN_TERMINAL_OR_SKIP(terminal);
    Shell("7z a -bd -psecret -mhe=on ../locked.7z .", "src");
    ToolProcess tool = Start({"list", "locked.7z"}, terminal->Name());
    AwaitPrompt(Path(".stderr"));
    terminal->Type("secret\n");
    const ToolResult result = tool.Wait();
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_NE(result.out.find("readme.txt"), std::string::npos);
    EXPECT_EQ(terminal->Drain().find("secret"), std::string::npos) << "echoed";

    // Ctrl-C at the prompt ends the tool and gives the terminal its echo back.
    fs::remove(Path(".stderr"));  // so that the first run's prompt is not taken for the second's
    ToolProcess interrupted = Start({"list", "locked.7z"}, terminal->Name());
    AwaitPrompt(Path(".stderr"));
    ::kill(interrupted.Pid(), SIGINT);
    const ToolResult stopped = interrupted.Wait();
    EXPECT_EQ(stopped.code, 130) << stopped.err;
    const int slave = ::open(terminal->Name().c_str(), O_RDWR | O_NOCTTY);
    termios mode{};
    ASSERT_EQ(::tcgetattr(slave, &mode), 0);
    EXPECT_TRUE(mode.c_lflag & ECHO);
    ::close(slave);
}

TEST_F(ToolTest, TheProgressBarShowsOnATerminalUnlessQuiet) {
    WriteFile(Path("src/big.bin"), Noise(4 << 20));
    Shell("7z a -bd -mx=0 ../tree.7z .", "src");
    for (const bool quiet : {false, true}) {
        ZORVIK_OPEN_TERMINAL_OR_SKIP(terminal);
        std::vector<std::string> args{"test", "tree.7z"};
        if (quiet) args.push_back("--quiet");
        const ToolResult result = Start(args, "/dev/null", terminal->Name()).Wait();
        EXPECT_EQ(result.code, 0);
        const std::string shown = terminal->Drain();
        if (quiet) {
            EXPECT_EQ(shown, "");
        } else {
            EXPECT_NE(shown.find("% ["), std::string::npos) << shown;
            EXPECT_NE(shown.find(" / 4.1 MiB"), std::string::npos) << shown;
            EXPECT_EQ(shown.substr(shown.size() - 4), "\r\033[K") << "the bar is cleared at the end";
        }
    }
}

TEST_F(ToolTest, EncryptedEntriesListWithoutPasswordButNeedItToDecode) {
    Shell("zip -q -r -P secret ../locked.zip .", "src");
    const auto listing = ListJson("locked.zip");
    for (const auto& entry : listing["entries"]) EXPECT_EQ(entry["encrypted"].get<bool>(), !entry["folder"].get<bool>()) << entry["path"];

    const ToolResult missing = Run({"test", "locked.zip"});
    EXPECT_EQ(missing.code, 4);
    EXPECT_TRUE(Mentions(missing, "zorvik: readme.txt: password missing\n")) << missing.err;

    const ToolResult wrong = Run({"extract", "locked.zip", "-o", "out", "-p", "guess"});
    EXPECT_EQ(wrong.code, 4);
    EXPECT_TRUE(Mentions(wrong, "zorvik: docs/notes.txt: wrong password, or the data is damaged")) << wrong.err;
    for (const auto& [path, node] : TreeOf(Path("out")))
        EXPECT_TRUE(node.folder || node.content.empty()) << path << ": output of an entry that failed is left behind";

    const ToolResult right = Run({"extract", "locked.zip", "-o", "good", "-p", "secret"});
    EXPECT_EQ(right.code, 0) << right.err;
    EXPECT_EQ(TreeOf(Path("good")), TreeOf(Path("src")));
}

TEST_F(ToolTest, WhatIsNoArchiveOrIsDamagedFailsWithItsCode) {
    WriteFile(Path("noise.7z"), Noise(4096));
    const ToolResult noise = Run({"list", "noise.7z"});
    EXPECT_EQ(noise.code, 3);
    EXPECT_EQ(noise.err, "zorvik: noise.7z: not an archive: no format can open it\n");

    const ToolResult missing = Run({"test", "absent.7z"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, "zorvik: absent.7z: No such file or directory\n");
    EXPECT_EQ(Run({"info", "src"}).err, "zorvik: src: is a folder\n");

    // Cut short, a 7z archive loses the header at its end; a tar.gz keeps its first entries.
    Shell("7z a -bd ../tree.7z . && tar -czf ../tree.tar.gz docs readme.txt", "src");
    for (const char* name : {"tree.7z", "tree.tar.gz"}) {
        const std::string whole = ReadFile(Path(name));
        WriteFile(Path(std::string("cut-") + name), whole.substr(0, whole.size() * 2 / 3));
    }
    const ToolResult cut7z = Run({"test", "cut-tree.7z"});
    EXPECT_EQ(cut7z.code, 3) << cut7z.err;
    EXPECT_EQ(cut7z.err, "zorvik: cut-tree.7z: damaged or truncated 7z archive\n");
    const ToolResult cutTar = Run({"test", "cut-tree.tar.gz"});
    EXPECT_EQ(cutTar.code, 1) << cutTar.err;
    EXPECT_NE(cutTar.err, "");
    EXPECT_EQ(cutTar.out, "") << "no success line";
}

TEST_F(ToolTest, CorruptedDataIsReportedPerEntry) {
    WriteFile(Path("src/docs/second.txt"), std::string(20000, 's'));
    Shell("zip -q -0 -r ../stored.zip docs", "src");
    // Flip one byte inside the stored data of notes.txt; the CRC check catches it.
    std::string bytes = ReadFile(Path("stored.zip"));
    const auto at = bytes.find(std::string(100, 'n'));
    ASSERT_NE(at, std::string::npos);
    bytes[at + 50] = 'X';
    WriteFile(Path("stored.zip"), bytes);

    const ToolResult tested = Run({"test", "stored.zip"});
    EXPECT_EQ(tested.code, 1);
    EXPECT_EQ(tested.err, "zorvik: docs/notes.txt: CRC error: the data is damaged\n");
    // The same, item by item, for a script.
    const ToolResult json = Run({"test", "stored.zip", "--json", "**/*.txt"});
    EXPECT_EQ(json.code, 1);
    std::map<std::string, std::pair<std::string, nlohmann::json>> results;
    const auto report = nlohmann::json::parse(json.out);
    for (const auto& item : report["items"]) results[item["path"]] = {item["result"], item["error"]};
    EXPECT_EQ(results, (std::map<std::string, std::pair<std::string, nlohmann::json>>{
                           {"docs/notes.txt", {"failed", "CRC error: the data is damaged"}}, {"docs/second.txt", {"ok", nullptr}}}));
    const ToolResult extracted = Run({"extract", "stored.zip", "-o", "out"});
    EXPECT_EQ(extracted.code, 1);
    EXPECT_EQ(extracted.err, "zorvik: docs/notes.txt: CRC error: the data is damaged (incomplete output removed)\n");
    EXPECT_FALSE(fs::exists(Path("out/docs/notes.txt")));
    EXPECT_EQ(ReadFile(Path("out/docs/second.txt")), std::string(20000, 's')) << "the sound entries are extracted";
}

TEST_F(ToolTest, AnArchiveBusyWithAnotherOperationExitsWithFive) {
    Shell("7z a -bd ../tree.7z .", "src");
    // Another operation on the archive holds its lock, named after its real path.
    std::wstring name = zorvik::rt::to_wide(fs::canonical(Path("tree.7z")).string());
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towlower(c == L'\\' ? L'_' : c));
    const HANDLE lock = CreateMutexExW(nullptr, name.c_str(), 0, SYNCHRONIZE);
    ASSERT_NE(lock, nullptr);
    ASSERT_EQ(WaitForSingleObjectEx(lock, 0, FALSE), WAIT_OBJECT_0);

    for (const std::vector<std::string>& command :
         std::vector<std::vector<std::string>>{{"extract", "tree.7z", "-o", "out"}, {"test", "tree.7z"}}) {
        const ToolResult busy = Run(command);
        EXPECT_EQ(busy.code, 5) << command[0] << ": " << busy.err;
        EXPECT_EQ(busy.err, "zorvik: tree.7z: archive busy: another operation is working on it\n");
    }
    EXPECT_FALSE(fs::exists(Path("out"))) << "the folder made for the extraction is removed";
    EXPECT_EQ(Run({"list", "tree.7z"}).code, 0) << "listing takes no lock";

    ReleaseMutex(lock);
    CloseHandle(lock);
    EXPECT_EQ(Run({"extract", "tree.7z", "-o", "out"}).code, 0);
}

TEST_F(ToolTest, CtrlCCancelsTheExtractionAndLeavesNoPartialFile) {
    for (int i = 1; i <= 3; ++i) WriteFile(Path("big/part" + std::to_string(i) + ".bin"), Noise(48 << 20, i));
    Shell("7z a -bd -mx=0 ../big.7z .", "big");
    ToolProcess tool = Start({"extract", "big.7z", "-o", "out"});
    // Stopped as soon as the first file is begun (under its temporary name), the tool gets
    // Ctrl-C before it can finish.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    const auto begun = [&] { return fs::exists(Path("out")) && !fs::is_empty(Path("out")); };
    while (!begun() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::microseconds(200));
    ::kill(tool.Pid(), SIGSTOP);
    ::kill(tool.Pid(), SIGINT);
    ::kill(tool.Pid(), SIGCONT);
    const ToolResult result = tool.Wait();
    EXPECT_EQ(result.code, 130) << result.err;
    EXPECT_TRUE(Mentions(result, "zorvik: big.7z: interrupted\n")) << result.err;
    for (const auto& [path, node] : TreeOf(Path("out"))) {
        ASSERT_FALSE(node.folder) << path;
        EXPECT_EQ(node.content, ReadFile(Path("big/" + path))) << path << " is left half written";
    }
    EXPECT_TRUE(Mentions(result, "interrupted (incomplete output removed)")) << result.err;
}

TEST_F(ToolTest, EveryFailingCommandPrintsOneJsonObject) {
    Shell("7zz a -bd ../tree.7z . >/dev/null && zip -qr ../tree.zip .", "src");
    WriteFile(Path("noise.7z"), Noise(4096));
    const std::vector<std::pair<std::vector<std::string>, int>> cases = {
        {{"extract", "noise.7z", "-o", "out"}, 3},
        {{"list", "noise.7z"}, 3},
        {{"info", "absent.7z"}, 1},
        {{"test", "tree.zip", "no/such"}, 1},
        {{"create", "tree.7z", "src"}, 1},
        {{"add", "tree.zip", "src", "--password", "x", "--encryption", "Blowfish"}, 2},
        {{"remove", "tree.7z", "no/such"}, 1},
        {{"rename", "tree.7z", "readme.txt", "a/b"}, 2},
        {{"move", "tree.zip", "docs", "--to", "nowhere"}, 1},
    };
    for (const auto& [command, code] : cases) {
        std::vector<std::string> args = command;
        args.push_back("--json");
        SCOPED_TRACE(::testing::PrintToString(args));
        const ToolResult result = Run(args);
        EXPECT_EQ(result.code, code) << result.err;
        nlohmann::json failure;
        ASSERT_NO_THROW(failure = nlohmann::json::parse(result.out)) << "one object, and nothing else: " << result.out;
        EXPECT_EQ(failure["archive"], command[1]);
        EXPECT_EQ(failure["operation"], command[0]);
        EXPECT_EQ(failure["result"], "failed");
        EXPECT_EQ(failure["exitCode"], code);
        ASSERT_FALSE(failure["errors"].empty());
        // The reason that ended it, and every line said on stderr.
        EXPECT_NE(result.err.find(failure["error"].get<std::string>()), std::string::npos) << result.err;
        std::string said;
        for (const auto& error : failure["errors"])
            said += "zorvik: " + error["subject"].get<std::string>() + ": " + error["message"].get<std::string>() + "\n";
        EXPECT_EQ(said, result.err);
    }
}

struct MessageCase {
    const char* label;
    std::string setup;  // shell, in the scratch root
    std::vector<std::string> args;
    std::string err;  // all of stderr
};

TEST_F(ToolTest, EachProblemIsSaidOnceAndEscaped) {
    WriteFile(Path("big/big.bin"), Noise(300000, 7));
    const std::string escape = "\x1b[31mred";
    const MessageCase cases[] = {
        {"an entry that goes on in a missing volume",
         "cd big && rar a -inul -m0 -v80k ../set.rar big.bin && cd .. && mkdir gap && cp set.part1.rar set.part3.rar set.part4.rar gap/",
         {"test", "gap/set.part1.rar"},
         "zorvik: big.bin: incomplete: a volume it needs is missing\n"
         "zorvik: gap/set.part1.rar: volume set.part2.rar is missing: what it holds cannot be read\n"},
        {"a name with a newline left out",
         "mkdir -p odd && mkfifo 'odd/fi\nfo'",
         {"create", "odd.tar", "odd", "-q"},
         "zorvik: odd/fi\\nfo: left out: not a regular file\n"},
        {"a typed command that steers the terminal", "", {escape}, "zorvik: usage: unknown command \"\\x1B[31mred\" (see zorvik --help)\n"},
    };
    for (const MessageCase& message : cases) {
        SCOPED_TRACE(message.label);
        if (!message.setup.empty()) Shell(message.setup);
        const ToolResult result = Run(message.args);
        EXPECT_EQ(result.err, message.err);
    }

    // What the archive's closing line and the clash prompt name is escaped too.
    const std::string archive = "a" + escape + ".7z";
    const ToolResult created = Run({"create", archive, "src/readme.txt"});
    EXPECT_EQ(created.out.rfind("a\\x1B[31mred.7z: 1 added; ", 0), 0u) << created.out;
    ZORVIK_OPEN_TERMINAL_OR_SKIP(terminal);
    ToolProcess adding = Start({"add", archive, "src/readme.txt"}, terminal->Name());
    terminal->Type("c\n");
    const ToolResult asked = adding.Wait();
    EXPECT_NE(asked.err.find("zorvik: src/readme.txt exists in a\\x1B[31mred.7z: [r]eplace"), std::string::npos) << asked.err;
    EXPECT_EQ(asked.err.find(escape), std::string::npos) << "the escape sequence reached the terminal";
}

TEST_F(ToolTest, ARar5CutInItsEncryptedHeadersIsDamagedNotAWrongPassword) {
    Shell("rar a -r -inul -hpsecret ../locked.rar .", "src");
    const std::string whole = ReadFile(Path("locked.rar"));
    ASSERT_GT(whole.size(), 400u);
    // Cut in the encryption header, in the main header and in the first file headers.
    for (std::size_t size = 40; size < 400; size += 8) {
        SCOPED_TRACE(size);
        WriteFile(Path("cut.rar"), whole.substr(0, size));
        const ToolResult result = Run({"list", "cut.rar", "--password", "secret"});
        EXPECT_NE(result.code, 4) << result.err;
        EXPECT_TRUE(result.err == "zorvik: cut.rar: damaged or truncated Rar5 archive\n" ||
                    result.err == "zorvik: cut.rar: unexpected end of archive: what lay past it is missing\n")
            << result.err;
    }
    const ToolResult wrong = Run({"list", "locked.rar", "--password", "guess"});
    EXPECT_EQ(wrong.code, 4);
    EXPECT_EQ(wrong.err, "zorvik: locked.rar: wrong password\n");
}

// Runs zorvik as another user, in the scratch root; its exit status, stderr in .stderr.
int RunAs(uid_t user, const fs::path& folder, const std::string& environment, const std::string& args) {
    const std::string line = "cd '" + folder.string() + "' && setpriv --reuid=" + std::to_string(user) +
                             " --regid=" + std::to_string(user) + " --clear-groups env -u XDG_RUNTIME_DIR -u TMPDIR " + environment +
                             " '" ZORVIK_CLI "' " + args + " 2>.stderr";
    const int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ToolTest, LockFoldersAnotherUserMadeFirstNeverMakeAnArchiveBusy) {
    if (::geteuid() != 0 || !HaveProgram("setpriv")) GTEST_SKIP() << "needs root, to act as two other users";
    // Users no one is, unlikely to meet those of another run.
    const uid_t user = 60000 + static_cast<uid_t>(::getpid() % 5000), other = user + 5000;
    Shell("7zz a -bd ../tree.7z . >/dev/null", "src");
    fs::permissions(root_, fs::perms(0755));
    fs::create_directories(Path("temp"));
    fs::create_directories(Path("runtime"));
    for (const char* folder : {"temp", "runtime"}) ASSERT_EQ(::chown(Path(folder).c_str(), user, user), 0);
    fs::permissions(Path("runtime"), fs::perms(0700));
    std::vector<fs::path> taken;
    struct Cleanup {
        std::vector<fs::path>& folders;
        ~Cleanup() {
            for (const auto& folder : folders) fs::remove_all(folder);
        }
    } cleanup{taken};
    for (const char* base : {"/dev/shm", "/tmp"}) {
        const fs::path folder = fs::path(base) / ("zorvik-mutex-" + std::to_string(user));
        ASSERT_TRUE(fs::create_directory(folder)) << folder << " exists already";
        taken.push_back(folder);
        ASSERT_EQ(::chown(folder.c_str(), other, other), 0);
        fs::permissions(folder, fs::perms(0777));
    }
    const std::string temp = "ZORVIK_TEMP=" + Path("temp").string();
    EXPECT_EQ(RunAs(user, root_, temp + " XDG_RUNTIME_DIR=" + Path("runtime").string(), "test tree.7z -q"), 0) << ReadFile(Path(".stderr"));
    EXPECT_EQ(RunAs(user, root_, temp, "test tree.7z -q"), 1) << "not busy";
    EXPECT_NE(ReadFile(Path(".stderr"))
                  .find("cannot lock the archive: another user owns every folder for lock files (zorvik-mutex-" + std::to_string(user)),
              std::string::npos)
        << ReadFile(Path(".stderr"));
}

}  // namespace
}  // namespace Zorvik::Cli::Testing
