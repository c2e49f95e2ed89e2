// Archives written in volumes by create and add --volume-size: sets that 7zz tests and that 7zz
// and zorvik extract byte for byte, written whole or not at all, and volume names that are taken
// replaced only when asked.
#include <signal.h>
#include <sys/mount.h>

#include <chrono>
#include <thread>

#include "cli/tests/ToolTesting.h"

namespace Zorvik::Cli::Testing {
namespace {

using namespace std::chrono_literals;

// The files of a folder by relative path, with their content (folders as "/").
std::map<std::string, std::string> ContentOf(const fs::path& folder) {
    std::map<std::string, std::string> content;
    for (const auto& item : fs::recursive_directory_iterator(folder))
        content[fs::relative(item.path(), folder).generic_string()] = item.is_directory() ? "/" : ReadFile(item.path());
    return content;
}

// Names in folder that belong to the set NAME or are a writing command's temporary files.
std::vector<std::string> SetFiles(const fs::path& folder, const std::string& name) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder)) {
        const std::string file = item.path().filename().string();
        if (file.rfind(name + ".", 0) == 0 || file.find(".zorvik-") != std::string::npos) names.push_back(file);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Volumes : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        if (!HaveProgram("7zz")) GTEST_SKIP() << "7zz is not installed";
        WriteFile(Path("src/big.bin"), Noise(3 << 20, 3));
    }

    std::string SevenZip(const std::string& arguments) const {
        const std::string line = "cd '" + root_.string() + "' && 7zz " + arguments + " >/dev/null 2>&1";
        return std::system(line.c_str()) == 0 ? "ok" : "failed: 7zz " + arguments;
    }
};

struct Written {
    const char* command;  // create, add, or add over an archive of one file made first
    const char* name;
    const char* size;  // as given
    std::uint64_t bytes;
};

TEST_F(Volumes, EverySetIsWhat7zzAndZorvikReadBack) {
    const Written cases[] = {
        {"create", "set.7z", "1M", 1 << 20}, {"create", "set.zip", "300k", 300 << 10},      {"create", "set.tar", "256K", 256 << 10},
        {"add", "new.7z", "200000", 200000}, {"add over one", "one.7z", "512k", 512 << 10},
    };
    for (const Written& written : cases) {
        const std::string name = written.name, command = written.command;
        SCOPED_TRACE(command + " " + name + " in volumes of " + written.size);
        std::vector<std::string> args{command == "create" ? "create" : "add", name, "--volume-size", written.size, "--json"};
        if (command == "add over one") {
            ASSERT_EQ(Run({"create", name, "src/docs"}).code, 0);
            for (const char* path : {"src/readme.txt", "src/big.bin", "src/zero.txt", "src/empty"}) args.push_back(path);
        } else {
            args.push_back("src");
        }
        const ToolResult result = Run(args);
        ASSERT_EQ(result.code, 0) << result.err;

        const auto report = nlohmann::json::parse(result.out);
        const auto volumes = SetFiles(root_, name);
        ASSERT_EQ(report["volumes"].get<std::size_t>(), volumes.size()) << "one file a volume, and nothing else: " << result.out;
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < volumes.size(); ++i) {
            EXPECT_EQ(volumes[i], name + "." + std::string(i < 9 ? "00" : "0") + std::to_string(i + 1));
            const std::uint64_t size = fs::file_size(Path(volumes[i]));
            if (i + 1 < volumes.size()) {
                EXPECT_EQ(size, written.bytes) << volumes[i];
            } else {
                EXPECT_LE(size, written.bytes) << volumes[i];
            }
            total += size;
        }
        EXPECT_GE(volumes.size(), 3u);
        EXPECT_EQ(report["archiveSize"].get<std::uint64_t>(), total);
        EXPECT_FALSE(fs::exists(Path(name))) << "the set replaced the archive of one file";

        const std::string first = name + ".001";
        EXPECT_EQ(SevenZip("t " + first), "ok");
        EXPECT_EQ(SevenZip("x -oby-7zz-" + name + " " + first), "ok");
        const ToolResult tested = Run({"test", first});
        EXPECT_EQ(tested.code, 0) << tested.err;
        const ToolResult extracted = Run({"extract", first, "-o", "by-zorvik-" + name});
        EXPECT_EQ(extracted.code, 0) << extracted.err;
        EXPECT_EQ(ContentOf(Path("by-7zz-" + name + "/src")), ContentOf(Path("src")));
        EXPECT_EQ(ContentOf(Path("by-zorvik-" + name + "/src")), ContentOf(Path("src")));
    }
}

enum class Ending { DiskFull, NoRoomForVolume3, ReadOnly, Interrupted };

TEST_F(Volumes, AFailureOrInterruptLeavesNoVolumeBehind) {
    struct Case {
        Ending ending;
        const char* options;  // of the small file system the set is written into
        int code;
        const char* says;
    };
    const Case cases[] = {
        {Ending::DiskFull, "size=2600k", 1, "disk full"},
        // The folder holds the archive's temporary file and two volumes; the third cannot be made.
        {Ending::NoRoomForVolume3, "size=10m,nr_inodes=4", 1,
         "set.7z.003: cannot create a temporary file beside it: No space left on device"},
        {Ending::ReadOnly, "size=10m,ro", 1, "Read-only file system"},
        {Ending::Interrupted, nullptr, 130, "interrupted"},
    };
    WriteFile(Path("large.bin"), Noise(24 << 20, 7));
    fs::create_directories(Path("small"));
    for (const Case& one : cases) {
        SCOPED_TRACE(one.says);
        ToolResult result;
        if (one.options) {
            if (::mount("tmpfs", Path("small").c_str(), "tmpfs", one.ending == Ending::ReadOnly ? MS_RDONLY : 0, one.options) != 0)
                GTEST_SKIP() << "cannot mount a small tmpfs here";
            result = Run({"create", "small/set.7z", "--volume-size", "1M", "--level", "0", "src"});
        } else {
            ToolProcess writing({"create", "small/set.7z", "--volume-size", "1M", "--level", "9", "large.bin"}, {}, root_);
            // Interrupted once the second volume is on its way.
            for (auto deadline = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < deadline;
                 std::this_thread::sleep_for(10ms)) {
                const auto files = SetFiles(Path("small"), "set.7z");
                if (std::any_of(files.begin(), files.end(),
                                [](const std::string& file) { return file.find(".002.zorvik-") != std::string::npos; }))
                    break;
            }
            ::kill(writing.Pid(), SIGINT);
            result = writing.Wait();
        }
        EXPECT_EQ(result.code, one.code) << result.err;
        EXPECT_NE(result.err.find(one.says), std::string::npos) << result.err;
        EXPECT_EQ(SetFiles(Path("small"), "set.7z"), std::vector<std::string>{});
        if (one.options) ::umount(Path("small").c_str());
    }
}

TEST_F(Volumes, ATakenVolumeNameIsReplacedOnlyWithForce) {
    ASSERT_EQ(Run({"create", "set.7z", "--volume-size", "1m", "src"}).code, 0);
    const auto before = SetFiles(root_, "set.7z");
    ASSERT_GE(before.size(), 3u);
    const std::string second = ReadFile(Path("set.7z.002"));

    struct Case {
        std::vector<std::string> args;
        int code;
        const char* says;
    };
    const Case refused[] = {
        {{"create", "set.7z", "--volume-size", "2m", "src"}, 1, "set.7z.001: exists (give --force to replace it)"},
        {{"add", "set.7z", "--volume-size", "2m", "src/readme.txt"}, 1, "set.7z.001: exists: an archive in volumes is not written anew"},
        {{"create", "other.7z", "--volume-size", "0", "src"}, 2, "a volume holds at least one byte"},
        {{"create", "other.7z", "--volume-size", "1x", "src"}, 2, "a size is a number"},
    };
    for (const Case& one : refused) {
        const ToolResult result = Run(one.args);
        EXPECT_EQ(result.code, one.code) << one.args[3];
        EXPECT_NE(result.err.find(one.says), std::string::npos) << result.err;
    }
    EXPECT_EQ(SetFiles(root_, "set.7z"), before);
    EXPECT_EQ(ReadFile(Path("set.7z.002")), second);
    EXPECT_EQ(SetFiles(root_, "other.7z"), std::vector<std::string>{});

    // A stray volume after the set's last would be read as part of it.
    WriteFile(Path("next.7z.002"), "stray");
    const ToolResult stray = Run({"create", "next.7z", "--volume-size", "1m", "src/readme.txt"});
    EXPECT_EQ(stray.code, 1);
    EXPECT_NE(stray.err.find("next.7z.002: exists, and would be read as the next volume of next.7z"), std::string::npos) << stray.err;
    EXPECT_EQ(SetFiles(root_, "next.7z"), std::vector<std::string>{"next.7z.002"});

    // Replaced: the old set's later volumes go with it.
    const ToolResult forced = Run({"create", "set.7z", "--volume-size", "2m", "--force", "src/readme.txt"});
    EXPECT_EQ(forced.code, 0) << forced.err;
    EXPECT_EQ(SetFiles(root_, "set.7z"), std::vector<std::string>{"set.7z.001"});
    EXPECT_EQ(SevenZip("t set.7z.001"), "ok");
}

}  // namespace
}  // namespace Zorvik::Cli::Testing
