// Names as other tools store them: beyond the BMP, 8-bit, not UTF-8 at all, holding control
// characters, or missing; each is listed, printed and extracted as the peers do.
#include <algorithm>

#include "cli/tests/ToolTesting.h"

namespace Zorvik::Cli::Testing {
namespace {

bool Contains(const std::vector<std::string>& paths, const std::string& path) { return std::count(paths.begin(), paths.end(), path) == 1; }

// A stored RAR 4 archive whose names are 8-bit text, as RAR 4 wrote them without its Unicode
// field; RAR 7 writes only RAR 5.
const char* const kRar4Maker = R"(python3 -c '
import struct, sys, zlib
def block(kind, flags, body):
    rest = struct.pack("<BHH", kind, flags, 7 + len(body)) + body
    return struct.pack("<H", zlib.crc32(rest) & 0xFFFF) + rest
out = b"Rar!\x1a\x07\x00" + block(0x73, 0, bytes(6))
for name, data in [("café.txt".encode(), b"latte\n")]:
    fields = struct.pack("<IIBIIBBHI", len(data), len(data), 3, zlib.crc32(data), 0x5A210000, 20, 0x30, len(name), 0x81A40020)
    out += block(0x74, 0x8000, fields + name) + data
open(sys.argv[1], "wb").write(out + block(0x7B, 0x4000, b""))
' names.rar)";

TEST_F(ToolTest, NamesBeyondTheBmpComeOutWhole) {
    const std::string name = "émoji😀.txt";
    WriteFile(Path("names/" + name), "smile\n");
    Shell("7z a -bd ../names.7z . && zip -q ../names.zip * && tar --format=pax -cf ../names.tar .", "names");
    for (const char* archive : {"names.7z", "names.zip", "names.tar"}) {
        SCOPED_TRACE(archive);
        const auto paths = JsonPaths(ListJson(archive));
        EXPECT_TRUE(Contains(paths, name) || Contains(paths, "./" + name));
        EXPECT_NE(Run({"list", archive}).out.find(name), std::string::npos);
        const std::string out = std::string("out-") + archive;
        ASSERT_EQ(Run({"extract", archive, "-o", out}).code, 0);
        EXPECT_EQ(ReadFile(Path(out + "/" + name)), "smile\n");
    }
}

TEST_F(ToolTest, EightBitNamesAreUtf8WhateverTheLocale) {
    WriteFile(Path("names/café.txt"), "latte\n");
    // Info-ZIP stores the name's bytes without saying they are UTF-8.
    Shell("zip -q ../names.zip café.txt", "names");
    Shell(kRar4Maker);
    for (const char* archive : {"names.zip", "names.rar"}) {
        for (const char* locale : {"C", "C.UTF-8"}) {
            SCOPED_TRACE(std::string(archive) + " in locale " + locale);
            const ToolResult listed = Run({"list", archive, "--json"}, {{"LC_ALL", locale}});
            ASSERT_EQ(listed.code, 0) << listed.err;
            EXPECT_EQ(JsonPaths(nlohmann::json::parse(listed.out)), std::vector<std::string>{"café.txt"});
        }
        const std::string out = std::string("out-") + archive;
        ASSERT_EQ(Run({"extract", archive, "-o", out}).code, 0);
        EXPECT_EQ(ReadFile(Path(out + "/café.txt")), "latte\n");
    }
}

TEST_F(ToolTest, NamesThatAreNotUtf8KeepTheirBytes) {
    const std::string latin1 = "caf\xE9.txt";
    WriteFile(Path("names/" + latin1), "latin\n");
    Shell("tar -cf ../latin.tar *", "names");

    EXPECT_NE(Run({"list", "latin.tar"}).out.find("caf\\xE9.txt"), std::string::npos) << "escaped in the text listing";
    EXPECT_EQ(JsonPaths(ListJson("latin.tar")), std::vector<std::string>{"caf\uFFFD.txt"}) << "valid JSON";
    ASSERT_EQ(Run({"extract", "latin.tar", "-o", "out"}).code, 0);
    EXPECT_EQ(ReadFile(Path("out/" + latin1)), "latin\n") << "the original bytes on disk";
    const ToolResult chosen = Run({"extract", "latin.tar", "-o", "chosen", latin1});
    EXPECT_EQ(chosen.code, 0) << chosen.err;
    EXPECT_EQ(ReadFile(Path("chosen/" + latin1)), "latin\n") << "typed as the file system has it";
}

TEST_F(ToolTest, ControlCharactersInNamesAreEscapedInTextOutput) {
    Shell(R"(python3 -c '
import io, tarfile
with tarfile.open("control.tar", "w", format=tarfile.PAX_FORMAT) as archive:
    for name in ["line\nzorvik: x: everything fine", "bell\x07\x1b[31mred", "../up\nzorvik: x: everything fine"]:
        info = tarfile.TarInfo(name)
        info.size = 2
        archive.addfile(info, io.BytesIO(b"c\n"))
')");
    const ToolResult listed = Run({"list", "control.tar"});
    EXPECT_EQ(listed.out.find("\nzorvik: x"), std::string::npos) << "a forged line: " << listed.out;
    EXPECT_NE(listed.out.find("line\\nzorvik: x: everything fine"), std::string::npos);
    EXPECT_NE(listed.out.find("bell\\x07\\x1B[31mred"), std::string::npos);
    EXPECT_TRUE(Contains(JsonPaths(ListJson("control.tar")), "line\nzorvik: x: everything fine")) << "JSON escapes by itself";

    const ToolResult extracted = Run({"extract", "control.tar", "-o", "out"});
    EXPECT_EQ(extracted.err, "zorvik: ../up\\nzorvik: x: everything fine: refused: name holds \"..\"\n");
    EXPECT_EQ(ReadFile(Path("out/line\nzorvik: x: everything fine")), "c\n");
}

// The files of a listing, sorted.
std::vector<std::string> FilePaths(const nlohmann::json& listing) {
    std::vector<std::string> paths;
    for (const auto& entry : listing["entries"])
        if (!entry["folder"].get<bool>()) paths.push_back(entry["path"].get<std::string>());
    std::sort(paths.begin(), paths.end());
    return paths;
}

struct CaseCommand {
    const char* label;
    std::vector<std::string> args;  // after the command's name, with the archive's place as "@"
    std::vector<std::string> files;
};

TEST_F(ToolTest, NamesThatDifferOnlyInCaseAreDifferentEntries) {
    WriteFile(Path("case/Photos/old.jpg"), "old\n");
    WriteFile(Path("case/photos/keep.jpg"), "keep\n");
    WriteFile(Path("case/d/inside.txt"), "inside\n");
    WriteFile(Path("D"), "a file\n");
    WriteFile(Path("new.txt"), "new\n");
    const std::vector<std::string> all{"Photos/old.jpg", "d/inside.txt", "photos/keep.jpg"};
    const CaseCommand commands[] = {
        {"remove one folder", {"remove", "@", "Photos"}, {"d/inside.txt", "photos/keep.jpg"}},
        {"rename one folder", {"rename", "@", "Photos", "Pics"}, {"Pics/old.jpg", "d/inside.txt", "photos/keep.jpg"}},
        {"move one file", {"move", "@", "photos/keep.jpg", "--to", "Photos"}, {"Photos/keep.jpg", "Photos/old.jpg", "d/inside.txt"}},
        {"move two of one name but for its case", {"move", "@", "Photos/old.jpg", "d", "--to", "photos"},
         {"photos/d/inside.txt", "photos/keep.jpg", "photos/old.jpg"}},
        {"a file beside a folder", {"add", "@", "--on-conflict", "replace", "D"}, {"D", "Photos/old.jpg", "d/inside.txt", "photos/keep.jpg"}},
        {"into a third folder", {"add", "@", "--to", "PHOTOS", "new.txt"},
         {"PHOTOS/new.txt", "Photos/old.jpg", "d/inside.txt", "photos/keep.jpg"}},
    };
    const std::pair<const char*, const char*> makers[] = {
        {"case.7z", "7zz a -bd ../case.7z Photos photos d"}, {"case.tar", "bsdtar cf ../case.tar Photos photos d"},
        {"case.zip", "zip -qr ../case.zip Photos photos d"}};
    for (const auto& [archive, maker] : makers) {
        SCOPED_TRACE(archive);
        Shell(maker, "case");
        EXPECT_EQ(FilePaths(ListJson(archive)), all);
        ASSERT_EQ(Run({"extract", archive, "-o", std::string("out-") + archive}).code, 0);
        EXPECT_EQ(ReadFile(Path(std::string("out-") + archive + "/photos/keep.jpg")), "keep\n");
        EXPECT_EQ(ReadFile(Path(std::string("out-") + archive + "/Photos/old.jpg")), "old\n");
        ASSERT_EQ(Run({"extract", archive, "photos", "-o", std::string("chosen-") + archive}).code, 0);
        EXPECT_FALSE(fs::exists(Path(std::string("chosen-") + archive + "/Photos"))) << "a chosen folder is only itself";

        for (const CaseCommand& command : commands) {
            SCOPED_TRACE(command.label);
            const std::string copy = std::string("copy-") + archive;
            fs::copy_file(Path(archive), Path(copy), fs::copy_options::overwrite_existing);
            std::vector<std::string> args = command.args;
            std::replace(args.begin(), args.end(), std::string("@"), copy);
            const ToolResult result = Run(args);
            ASSERT_EQ(result.code, 0) << result.err;
            EXPECT_EQ(FilePaths(ListJson(copy)), command.files);
        }
    }
}

TEST_F(ToolTest, EntriesWithoutANameTakeTheArchivesName) {
    Shell("seq 1 100000 > numbers && seq 1 100000 | 7z a -bd -si dump.7z");
    // A zip entry with an empty name.
    Shell(R"(python3 -c '
import struct, zlib
data = b"data\n"
crc = zlib.crc32(data)
local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0, crc, len(data), len(data), 0, 0) + data
central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, 0, 0, crc, len(data), len(data), 0, 0, 0, 0, 0, 0, 0)
end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), len(local), 0)
open("blank.zip", "wb").write(local + central + end)
')");
    for (const auto& [archive, name, content] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"dump.7z", "dump", ReadFile(Path("numbers"))}, {"blank.zip", "blank", "data\n"}}) {
        SCOPED_TRACE(archive);
        EXPECT_EQ(JsonPaths(ListJson(archive)), std::vector<std::string>{name});
        ASSERT_EQ(Run({"extract", archive, "-o", "out"}).code, 0);
        EXPECT_EQ(ReadFile(Path("out/" + name)), content);
    }
}

}  // namespace
}  // namespace Zorvik::Cli::Testing
