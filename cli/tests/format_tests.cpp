// Formats and trees: what opens an archive is what is reported, compressed tars open as the tar
// whatever their extension, and volumes or data that are missing are said to be.
#include "cli/tests/ToolTesting.h"

namespace Zorvik::Cli::Testing {
namespace {

TEST_F(ToolTest, CompressedTarsOpenAsTheTarWhateverTheirExtension) {
    Shell(
        "tar -cf ../tree.tar . && tar -czf ../tree.tgz . && tar -cjf ../tree.tbz2 . && tar -cJf ../tree.txz . && cp ../tree.tgz "
        "../tree.tar.gz "
        "&& bsdtar -cZf ../tree.tar.Z .",
        "src");
    const auto tar = JsonPaths(ListJson("tree.tar"));
    for (const char* archive : {"tree.tgz", "tree.tbz2", "tree.txz", "tree.tar.gz", "tree.tar.Z"}) {
        const auto listing = ListJson(archive);
        EXPECT_EQ(listing["format"], "tar") << archive;
        EXPECT_EQ(JsonPaths(listing), tar) << archive;
    }
}

TEST_F(ToolTest, TheFormatShownIsTheOneWhoseHandlerOpenedTheArchive) {
    Shell("rar a -r -inul ../tree.rar . && cp ../tree.rar ../renamed.bin && gzip -k readme.txt && cp readme.txt.gz ../notes.tar.gz", "src");
    std::vector<std::pair<std::string, std::string>> cases = {
        {"tree.rar", "Rar5"}, {"renamed.bin", "Rar5"}, {"notes.tar.gz", "gzip"}, {"src/readme.txt.gz", "gzip"}};
    const fs::path rar4 = fs::path(ZORVIK_SOURCE_DIR) / "../shared/fixtures/rar4/test_read_format_rar.rar";
    if (fs::exists(rar4)) {
        fs::copy_file(rar4, Path("old.rar"));
        cases.emplace_back("old.rar", "Rar");
    }
    for (const auto& [archive, format] : cases) {
        EXPECT_EQ(ListJson(archive)["format"], format) << archive;
        const ToolResult info = Run({"info", archive, "--json"});
        EXPECT_EQ(nlohmann::json::parse(info.out)["format"], format) << archive;
    }
    if (!fs::exists(rar4)) GTEST_SKIP() << "RAR 4 sample missing: " << rar4;
}

// A minimal binary RPM of the folder given: a lead, an empty signature header, a main header
// naming the package, and a gzip'd cpio payload made by bsdtar.
const char* const kRpmMaker = R"(python3 -c '
import gzip, struct, subprocess, sys
payload = gzip.compress(subprocess.run(["bsdtar", "--format=newc", "-cf", "-", "-C", sys.argv[2], "."], check=True, capture_output=True).stdout)
def header(entries):
    index, data = b"", b""
    for tag, value in entries:
        index += struct.pack(">IIII", tag, 6, len(data), 1)
        data += value.encode() + b"\0"
    return struct.pack(">I4xII", 0x8EADE801, len(entries), len(data)) + index + data
signature = header([])
signature += bytes(-len(signature) % 8)
main = header([(1000, "hello"), (1001, "1.0"), (1002, "1"), (1022, "noarch"), (1124, "cpio"), (1125, "gzip")])
lead = struct.pack(">IBBHH66sHH16x", 0xEDABEEDB, 3, 0, 0, 1, b"hello-1.0-1", 1, 5)
open(sys.argv[1], "wb").write(lead + signature + main + payload)
' hello.rpm src)";

TEST_F(ToolTest, APackagesPayloadIsNamedAfterWhatItIsNotAfterThePackage) {
    if (!HaveProgram("dpkg-deb")) GTEST_SKIP() << "dpkg-deb is not installed";
    Shell(
        "mkdir -p pkg/DEBIAN pkg/usr/share/doc/hello && cp src/readme.txt pkg/usr/share/doc/hello/ && "
        "printf 'Package: hello\\nVersion: 1.0\\nArchitecture: all\\nMaintainer: Z <z@example.org>\\nDescription: d\\n' "
        ">pkg/DEBIAN/control && "
        "dpkg-deb -b -Zxz pkg hello.deb >/dev/null && dpkg-deb -b -Zgzip pkg hello-gz.deb >/dev/null");
    Shell(kRpmMaker);
    // 7zz lists the same payload, by the same name.
    for (const auto& [package, payload] : std::vector<std::pair<std::string, std::string>>{
             {"hello.deb", "data.tar"}, {"hello-gz.deb", "data.tar"}, {"hello.rpm", "hello-1.0-1.noarch.cpio"}}) {
        SCOPED_TRACE(package);
        EXPECT_EQ(JsonPaths(ListJson(package)), std::vector<std::string>{payload});
        if (HaveProgram("7zz")) {
            Shell("{ 7zz l -ba " + package + " | awk '{ print $NF }' >" + package + ".names; }");
            EXPECT_EQ(ReadFile(Path(package + ".names")), payload + "\n");
        }
        ASSERT_EQ(Run({"extract", package, "-o", "out-" + package}).code, 0);
        EXPECT_TRUE(fs::exists(Path("out-" + package) / payload));
    }
    // What it is: the package's data, the files bsdtar lists in it.
    Shell(
        "{ bsdtar -tf out-hello.deb/data.tar | sort >ours && bsdtar -xOf hello.deb data.tar.xz | bsdtar -tf - | sort >peer && cmp ours "
        "peer; }");
    Shell("{ bsdtar -tf out-hello.rpm/hello-1.0-1.noarch.cpio | sort >ours && bsdtar -tf hello.rpm | sort >peer && cmp ours peer; }");
}

TEST_F(ToolTest, AMissingVolumeIsAnErrorThatNamesIt) {
    WriteFile(Path("src/docs/big.bin"), Noise(300000, 7));
    Shell("7z a -bd -mx=0 -v80k ../split.7z . && rar a -r -inul -m0 -v80k ../set.rar .", "src");
    // Every volume but one: the second, or the last.
    const auto copyAllBut = [&](const std::string& folder, const std::vector<std::string>& volumes, std::size_t left) {
        fs::create_directories(Path(folder));
        for (std::size_t i = 0; i < volumes.size(); ++i)
            if (i != left) fs::copy_file(Path(volumes[i]), Path(folder) / volumes[i]);
        return volumes[left];
    };
    std::vector<std::string> split, set;
    for (int n = 1; fs::exists(Path("split.7z.00" + std::to_string(n))); ++n) split.push_back("split.7z.00" + std::to_string(n));
    for (int n = 1; fs::exists(Path("set.part" + std::to_string(n) + ".rar")); ++n) set.push_back("set.part" + std::to_string(n) + ".rar");
    ASSERT_GE(split.size(), 3u);
    ASSERT_GE(set.size(), 3u);

    for (const auto& [archive, missing] :
         std::vector<std::pair<std::string, std::string>>{{"middle/split.7z.001", copyAllBut("middle", split, 1)},
                                                          {"last/split.7z.001", copyAllBut("last", split, split.size() - 1)},
                                                          {"last/set.part1.rar", copyAllBut("last", set, set.size() - 1)}}) {
        SCOPED_TRACE(archive);
        for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{{"test"}, {"extract", "-o", "out"}}) {
            std::vector<std::string> args{command[0], archive};
            args.insert(args.end(), command.begin() + 1, command.end());
            const ToolResult result = Run(args);
            EXPECT_EQ(result.code, 1) << command[0];
            EXPECT_NE(result.err.find(missing), std::string::npos) << result.err;
            EXPECT_EQ(result.out, "") << "no success line";
        }
        EXPECT_FALSE(fs::exists(Path("out/docs/big.bin")) || fs::exists(Path("out/split.7z"))) << "nothing cut short is left";
    }
    // What the volumes present hold is still listed.
    const ToolResult listed = Run({"list", "last/set.part1.rar", "--json"});
    EXPECT_EQ(listed.code, 1);
    EXPECT_GE(nlohmann::json::parse(listed.out)["entries"].size(), 2u);
}

TEST_F(ToolTest, AnArchiveThatOpensButEndsEarlyFailsEveryCommand) {
    WriteFile(Path("src/docs/big.bin"), Noise(300000, 7));
    Shell("tar -cf ../tree.tar . && zip -qr ../tree.zip . && rar a -r -inul ../tree.rar .", "src");
    const std::string tar = ReadFile(Path("tree.tar")), zip = ReadFile(Path("tree.zip")), rar = ReadFile(Path("tree.rar"));
    // The tar in its second header, after a whole first entry (its folder "./"); the zip in its
    // central directory, so that its entries are found by their local headers; the RAR in its
    // end-of-archive header. Every entry listed is whole: only the archive can say that others
    // are lost.
    WriteFile(Path("cut.tar"), tar.substr(0, 612));
    WriteFile(Path("cut.zip"), zip.substr(0, zip.size() - 200));
    WriteFile(Path("cut.rar"), rar.substr(0, rar.size() - 1));
    for (const char* archive : {"cut.tar", "cut.zip", "cut.rar"}) {
        for (const std::vector<std::string>& command :
             std::vector<std::vector<std::string>>{{"list"}, {"test"}, {"extract", "-o", std::string("out/") + archive}}) {
            SCOPED_TRACE(std::string(archive) + " " + command[0]);
            std::vector<std::string> args{command[0], archive};
            args.insert(args.end(), command.begin() + 1, command.end());
            const ToolResult result = Run(args);
            EXPECT_EQ(result.code, 1);
            EXPECT_EQ(result.err, "zorvik: " + std::string(archive) + ": unexpected end of archive: what lay past it is missing\n");
            if (command[0] != "list") {
                EXPECT_EQ(result.out, "") << "no success line";
            }
        }
    }
}

TEST_F(ToolTest, AnArchiveCutShortIsCalledDamagedNotANonArchive) {
    Shell("7z a -bd ../tree.7z .", "src");
    const std::string whole = ReadFile(Path("tree.7z"));
    WriteFile(Path("cut.7z"), whole.substr(0, whole.size() / 2));
    const ToolResult result = Run({"list", "cut.7z"});
    EXPECT_EQ(result.code, 3);
    EXPECT_EQ(result.err, "zorvik: cut.7z: damaged or truncated 7z archive\n");
}

}  // namespace
}  // namespace Zorvik::Cli::Testing
