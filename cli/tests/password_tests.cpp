// Passwords on archives other tools made: a wrong one ends the run at once, a missing one is
// said, every encrypted entry hears its own failure, and non-ASCII passwords work.
#include <algorithm>
#include <chrono>
#include <thread>

#include "cli/tests/ToolTesting.h"

namespace Zorvik::Cli::Testing {
namespace {

using namespace std::chrono_literals;

bool Mentions(const ToolResult& result, const std::string& text) { return result.err.find(text) != std::string::npos; }

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

class Passwords : public ToolTest {
protected:
    // Runs the tool and fails the test when it takes longer than a second.
    ToolResult RunPromptly(const std::vector<std::string>& args, const std::map<std::string, std::string>& environment = {}) const {
        const auto started = std::chrono::steady_clock::now();
        ToolResult result = Run(args, environment);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 1s) << args[0] << " " << args[1];
        return result;
    }
};

TEST_F(Passwords, AWrongPasswordForEncryptedHeadersEndsTheRunAtOnce) {
    Shell("rar a -inul -hpsecret ../locked.rar . && 7z a -bd -psecret -mhe=on ../locked.7z .", "src");
    // The right password, but one byte of the encryption header is flipped.
    std::string damaged = ReadFile(Path("locked.rar"));
    damaged[8] ^= 1;
    WriteFile(Path("damaged.rar"), damaged);

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"locked.rar", "guess"}, {"locked.7z", "guess"}, {"damaged.rar", "secret"}};
    for (const auto& [archive, password] : cases) {
        for (const std::vector<std::string>& command :
             std::vector<std::vector<std::string>>{{"list"}, {"test"}, {"extract", "-o", "out"}}) {
            SCOPED_TRACE(archive + " " + command[0]);
            std::vector<std::string> args{command[0], archive};
            args.insert(args.end(), command.begin() + 1, command.end());
            std::vector<std::string> withOption = args;
            withOption.insert(withOption.end(), {"--password", password});
            for (const ToolResult& result : {RunPromptly(withOption), RunPromptly(args, {{"ZORVIK_PASSWORD", password}})}) {
                EXPECT_EQ(result.code, 4);
                EXPECT_EQ(result.err, "zorvik: " + archive + ": wrong password\n");
            }
        }
    }
    EXPECT_FALSE(fs::exists(Path("out")) && !fs::is_empty(Path("out")));
}

TEST_F(Passwords, EncryptedHeadersWithoutAPasswordSayThePasswordIsMissing) {
    Shell("rar a -inul -hpsecret ../locked.rar .", "src");
    for (const char* command : {"list", "test"}) {
        const ToolResult result = RunPromptly({command, "locked.rar"});
        EXPECT_EQ(result.code, 4) << command;
        EXPECT_EQ(result.err, "zorvik: locked.rar: password missing (give --password or set ZORVIK_PASSWORD)\n") << command;
    }
}

TEST_F(Passwords, EveryEncryptedEntryHearsItsOwnFailure) {
    Shell("rar a -r -inul -psecret ../plain.rar . && rar a -r -inul -s -psecret ../solid.rar .", "src");
    for (const char* archive : {"plain.rar", "solid.rar"}) {
        for (const auto& [password, reason] : std::vector<std::pair<std::string, std::string>>{
                 {"", "password missing"}, {"guess", "wrong password, or the data is damaged"}}) {
            for (const char* command : {"test", "extract"}) {
                SCOPED_TRACE(std::string(archive) + " " + command + " with password \"" + password + "\"");
                std::vector<std::string> args{command, archive};
                if (std::string(command) == "extract") args.insert(args.end(), {"-o", "out"});
                if (!password.empty()) args.insert(args.end(), {"-p", password});
                const ToolResult result = RunPromptly(args);
                EXPECT_EQ(result.code, 4);
                EXPECT_EQ(result.out, "") << "no success line";
                for (const char* entry : {"readme.txt", "docs/notes.txt", "docs/deep/data.bin"})
                    EXPECT_TRUE(Mentions(result, std::string("zorvik: ") + entry + ": " + reason)) << result.err;
            }
        }
    }
    for (const auto& [path, node] : TreeOf(Path("out")))
        EXPECT_TRUE(node.folder || node.content.empty()) << path << " was extracted without its password";
}

TEST_F(Passwords, NonAsciiPasswordsOpenWhatOtherToolsMade) {
    // ZipCrypto keys on the password's 8-bit text; 7z on its UTF-16, a pair beyond the BMP.
    Shell("zip -q -r -P 'pässword' ../locked.zip . && 7zz a -bso0 -p'pw😀' ../locked.7z .", "src");
    for (const auto& [archive, password] :
         std::vector<std::pair<std::string, std::string>>{{"locked.zip", "pässword"}, {"locked.7z", "pw😀"}}) {
        const ToolResult tested = RunPromptly({"test", archive, "-p", password});
        EXPECT_EQ(tested.code, 0) << archive << ": " << tested.err;
        const std::string out = "out-" + archive;
        EXPECT_EQ(Run({"extract", archive, "-o", out, "-p", password}).code, 0) << archive;
        EXPECT_EQ(TreeOf(Path(out)), TreeOf(Path("src"))) << archive;
    }
}

TEST_F(Passwords, AddingBesideEncryptedEntriesTakesTheirPasswordOrWritesNothing) {
    Shell(
        "7zz a -bso0 -psecret ../plain-names.7z . && 7zz a -bso0 -tzip -mem=AES256 -psecret ../aes.zip . && zip -q -r -P secret "
        "../crypto.zip .",
        "src");
    WriteFile(Path("ours/readme.txt"), "ours\n");
    ASSERT_EQ(Run({"create", "ours.7z", "ours", "--password", "secret"}).code, 0);
    WriteFile(Path("new.txt"), "new\n");
    struct Given {
        const char* label;
        std::vector<std::string> password;  // the options that give it
        std::map<std::string, std::string> environment;
        int code;
        std::string message;
    };
    const Given givens[] = {
        {"a wrong one", {"--password", "wrong"}, {}, 4, "wrong password"},
        {"a wrong one from the environment", {}, {{"ZORVIK_PASSWORD", "wrong"}}, 4, "wrong password"},
        {"none", {}, {}, 4, "password missing (give --password or set ZORVIK_PASSWORD)"},
        {"the right one", {"--password", "secret"}, {}, 0, ""},
    };
    for (const char* archive : {"plain-names.7z", "aes.zip", "crypto.zip", "ours.7z"}) {
        for (const Given& given : givens) {
            SCOPED_TRACE(std::string(archive) + " with " + given.label);
            const std::string copy = std::string("copy-") + archive;
            fs::copy_file(Path(archive), Path(copy), fs::copy_options::overwrite_existing);
            std::vector<std::string> args{"add", copy, "new.txt"};
            args.insert(args.end(), given.password.begin(), given.password.end());
            const ToolResult added = Run(args, given.environment);
            EXPECT_EQ(added.code, given.code) << added.err;
            if (given.code != 0) {
                EXPECT_EQ(added.err, "zorvik: " + copy + ": " + given.message + "\n");
                EXPECT_EQ(ReadFile(Path(copy)), ReadFile(Path(archive))) << "nothing written";
                continue;
            }
            EXPECT_EQ(std::system(("7zz t -bso0 -bse0 -psecret '" + Path(copy).string() + "'").c_str()), 0) << "one password opens all";
            EXPECT_NE(std::system(("7zz e -so -pwrong '" + Path(copy).string() + "' new.txt >/dev/null 2>&1").c_str()), 0)
                << "the new entry is encrypted";
        }
    }
}

TEST_F(Passwords, AtThePromptAWrongPasswordIsAskedForTwiceMore) {
    ZORVIK_OPEN_TERMINAL_OR_SKIP(terminal);
    Shell("rar a -inul -hpsecret ../locked.rar .", "src");
    // Answers each prompt in turn, once it has appeared.
    const auto answer = [&](const std::vector<std::string>& answers) {
        fs::remove(Path(".stderr"));
        ToolProcess tool = Start({"list", "locked.rar"}, terminal->Name());
        for (std::size_t asked = 1; asked <= answers.size(); ++asked) {
            const auto deadline = std::chrono::steady_clock::now() + 30s;
            while (Occurrences(ReadFile(Path(".stderr")), "Password: ") < asked && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(5ms);
            terminal->Type(answers[asked - 1] + "\n");
        }
        return tool.Wait();
    };

    const ToolResult second = answer({"guess", "secret"});
    EXPECT_EQ(second.code, 0) << second.err;
    EXPECT_EQ(Occurrences(second.err, "Wrong password. Password: "), 1u);

    const ToolResult wrong = answer({"one", "two", "three"});
    EXPECT_EQ(wrong.code, 4);
    EXPECT_EQ(Occurrences(wrong.err, "Password: "), 3u) << "asked three times in all";
    EXPECT_TRUE(Mentions(wrong, "zorvik: locked.rar: wrong password\n")) << wrong.err;
}

}  // namespace
}  // namespace Zorvik::Cli::Testing
