// RAR 5 archives as rar makes them: file copies extract with their source, and a header that
// fails its checksum is reported.
#include "cli/tests/ToolTesting.h"

namespace Zorvik::Cli::Testing {
namespace {

class RarTool : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        if (!HaveProgram("rar")) GTEST_SKIP() << "rar is not installed";
    }
};

TEST_F(RarTool, FileCopiesExtractWithTheirSource) {
    const std::string content = Noise(50000, 3);
    for (const char* path : {"same/original.bin", "same/copy.bin", "other/copy2.bin", "other/copy3.bin"})
        WriteFile(Path(std::string("copies/") + path), content);
    // -oi:1 stores every identical file after the first as a reference to it.
    Shell("rar a -r -inul -oi:1 ../copies.rar same other && rar a -r -inul -oi:1 -s ../solid.rar same other", "copies");
    for (const char* archive : {"copies.rar", "solid.rar"}) {
        SCOPED_TRACE(archive);
        const ToolResult tested = Run({"test", archive});
        EXPECT_EQ(tested.out.rfind(std::string(archive) + ": OK, 4 files tested, ", 0), 0u) << tested.out << tested.err;
        const std::string out = std::string("out-") + archive;
        const ToolResult extracted = Run({"extract", archive, "-o", out});
        EXPECT_EQ(extracted.code, 0) << extracted.err;
        EXPECT_EQ(TreeOf(Path(out + "/same")).size() + TreeOf(Path(out + "/other")).size(), 4u);
        for (const char* path : {"same/original.bin", "same/copy.bin", "other/copy2.bin", "other/copy3.bin"}) {
            EXPECT_EQ(ReadFile(Path(out + "/" + path)), content) << path;
            // Alone, too.
            const std::string alone = out + "-alone";
            fs::remove_all(Path(alone));
            EXPECT_EQ(Run({"extract", archive, "-o", alone, path}).code, 0) << path;
            EXPECT_EQ(ReadFile(Path(alone + "/" + path)), content) << path << " alone";
        }
    }
}

TEST_F(RarTool, AHeaderFailingItsChecksumIsReported) {
    Shell("rar a -inul ../headers.rar readme.txt zero.txt", "src");
    std::string bytes = ReadFile(Path("headers.rar"));
    bytes[bytes.find("readme.txt")] = 'R';
    WriteFile(Path("headers.rar"), bytes);
    const std::string warning = "zorvik: headers.rar: damaged headers: some fail their checksums (their entries were read as they are)\n";

    const ToolResult tested = Run({"test", "headers.rar"});
    EXPECT_EQ(tested.code, 1);
    EXPECT_EQ(tested.err, warning);
    const ToolResult listed = Run({"list", "headers.rar"});
    EXPECT_EQ(listed.code, 0);
    EXPECT_EQ(listed.err, warning);
    EXPECT_EQ(Run({"extract", "headers.rar", "-o", "out"}).code, 1);
    EXPECT_EQ(ReadFile(Path("out/Readme.txt")), ReadFile(Path("src/readme.txt"))) << "its data passed its own check";
}

}  // namespace
}  // namespace Zorvik::Cli::Testing
