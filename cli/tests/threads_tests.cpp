// Extraction and test on several threads say what one thread says, in the same order, and leave
// the same files.
#include "cli/tests/ToolTesting.h"

namespace Zorvik::Cli::Testing {
namespace {

// The output of a run but its timing.
std::string WithoutSeconds(std::string out) {
    const std::size_t seconds = out.find("\"seconds\"");
    return seconds == std::string::npos ? out : out.substr(0, seconds);
}

TEST_F(ToolTest, SeveralThreadsSayWhatOneThreadSaysInTheArchivesOrder) {
    // Enough small files for the component to take a second thread, two of them damaged.
    constexpr int kFiles = 1600;
    for (int i = 0; i < kFiles; ++i)
        WriteFile(Path("many/d" + std::to_string(i % 7) + "/f" + std::to_string(i) + ".txt"), Noise(1024 + i % 3072, i));
    Shell("zip -qr ../many.zip .", "many");
    std::string bytes = ReadFile(Path("many.zip"));
    for (const char* damaged : {"d1/f400.txt", "d4/f1201.txt"}) {
        const std::size_t name = bytes.find(damaged);
        ASSERT_NE(name, std::string::npos);
        const std::size_t data = name + std::string(damaged).size() + static_cast<unsigned char>(bytes[name - 2]);
        bytes[data + 300] = static_cast<char>(bytes[data + 300] ^ 0x41);
    }
    WriteFile(Path("many.zip"), bytes);

    const std::vector<std::vector<std::string>> commands = {
        {"extract", "many.zip", "-o", "out"},
        {"extract", "many.zip", "--json", "-o", "out"},
        {"test", "many.zip"},
        {"test", "many.zip", "--json"},
    };
    for (const auto& command : commands) {
        std::map<std::string, ToolResult> results;
        for (const char* threads : {"1", "2"}) {
            std::vector<std::string> args = command;
            args.insert(args.end(), {"-q", "--threads", threads});
            for (std::string& arg : args)
                if (arg == "out") arg = std::string("out-") + threads;
            results[threads] = Run(args);
        }
        SCOPED_TRACE(command[0] + " " + command.back());
        EXPECT_EQ(results["1"].code, 1);
        EXPECT_EQ(results["2"].code, results["1"].code);
        EXPECT_EQ(results["2"].err, results["1"].err);
        EXPECT_EQ(WithoutSeconds(results["2"].out), WithoutSeconds(results["1"].out));
        EXPECT_NE(results["1"].err.find("d1/f400.txt: CRC error"), std::string::npos) << results["1"].err;
        if (command[0] == "extract") {
            EXPECT_EQ(TreeOf(Path("out-2")), TreeOf(Path("out-1")));
            fs::remove_all(Path("out-1"));
            fs::remove_all(Path("out-2"));
        }
    }
}

}  // namespace
}  // namespace Zorvik::Cli::Testing
