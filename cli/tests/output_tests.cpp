// What extraction leaves on disk: a file is replaced only by a whole new one, a name the archive
// holds twice keeps the later entry, and a full or read-only file system is said to be.
#include <sys/mount.h>

#include "cli/tests/ToolTesting.h"

namespace Zorvik::Cli::Testing {
namespace {

TEST_F(ToolTest, OverwriteReplacesAFileOnlyWithAWholeNewOne) {
    Shell("zip -q -r -P secret ../locked.zip .", "src");
    WriteFile(Path("out/readme.txt"), "old");
    const ToolResult wrong = Run({"extract", "locked.zip", "-o", "out", "--overwrite", "-p", "guess"});
    EXPECT_EQ(wrong.code, 4);
    EXPECT_EQ(ReadFile(Path("out/readme.txt")), "old") << "a failed entry leaves the file it would replace";
    for (const auto& [path, node] : TreeOf(Path("out"))) EXPECT_TRUE(node.folder || path == "readme.txt") << path << " is left behind";

    EXPECT_EQ(Run({"extract", "locked.zip", "-o", "out", "--overwrite", "-p", "secret"}).code, 0);
    EXPECT_EQ(TreeOf(Path("out")), TreeOf(Path("src")));
}

TEST_F(ToolTest, ANameHeldTwiceKeepsTheLaterEntry) {
    WriteFile(Path("twice/a.txt"), "first\n");
    Shell("tar -cf ../twice.tar a.txt", "twice");
    WriteFile(Path("twice/a.txt"), "second\n");
    Shell("tar -rf ../twice.tar a.txt", "twice");
    const ToolResult result = Run({"extract", "twice.tar", "-o", "out"});
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.err, "zorvik: a.txt: the archive holds this name more than once; the later entry replaces the earlier\n");
    EXPECT_EQ(ReadFile(Path("out/a.txt")), "second\n");

    // A file, then a folder of its name: the file is in place when the folder is wanted.
    fs::remove(Path("twice/a.txt"));
    WriteFile(Path("twice/a.txt/b"), "below\n");
    Shell("tar -rf ../twice.tar a.txt/b", "twice");
    const ToolResult below = Run({"extract", "twice.tar", "-o", "again"});
    EXPECT_EQ(below.code, 1);
    EXPECT_EQ(below.err,
              "zorvik: a.txt: the archive holds this name more than once; the later entry replaces the earlier\n"
              "zorvik: a.txt/b: a file is in the way of folder a.txt\n");
    EXPECT_EQ(ReadFile(Path("again/a.txt")), "second\n");
}

TEST_F(ToolTest, AFullOrReadOnlyFileSystemIsSaidAndEndsTheRun) {
    WriteFile(Path("big/a.bin"), Noise(200000, 1));
    WriteFile(Path("big/b.bin"), Noise(200000, 2));
    WriteFile(Path("big/c.bin"), Noise(200000, 3));
    Shell("7z a -bd -mx=0 ../big.7z a.bin b.bin c.bin", "big");
    fs::create_directories(Path("small"));
    if (::mount("tmpfs", Path("small").c_str(), "tmpfs", 0, "size=256k") != 0) GTEST_SKIP() << "cannot mount a small file system here";
    struct Unmount {
        fs::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{Path("small")};
    fs::create_directories(Path("small/locked"));

    const ToolResult full = Run({"extract", "big.7z", "-o", "small/out"});
    EXPECT_EQ(full.code, 1);
    EXPECT_EQ(full.err,
              "zorvik: b.bin: No space left on device (incomplete output removed)\nzorvik: big.7z: extraction stopped: the destination "
              "takes nothing more\n")
        << "the reason is said once";
    EXPECT_EQ(ReadFile(Path("small/out/a.bin")), ReadFile(Path("big/a.bin")));

    ASSERT_EQ(::mount(nullptr, Path("small").c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    const ToolResult readOnly = Run({"extract", "big.7z", "-o", "small/locked"});
    EXPECT_EQ(readOnly.code, 1);
    EXPECT_EQ(
        readOnly.err,
        "zorvik: a.bin: cannot create it: Read-only file system\nzorvik: big.7z: extraction stopped: the destination takes nothing more\n");
}

}  // namespace
}  // namespace Zorvik::Cli::Testing
