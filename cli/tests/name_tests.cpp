// Names as other tools store them: beyond the BMP, 8-bit, not UTF-8 at all, holding control
// characters or backslashes, differing only in case, or missing; each is listed, printed,
// written and extracted as the peers do.
#include <algorithm>

#include "cli/terminal/Text.h"
#include "cli/tests/ToolTesting.h"
#include "zorvik/runtime/com_ptr.h"

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

// Every byte but "/" as a name of its own ("." as "..."), bytes that are no UTF-8 (alone,
// truncated, overlong, an encoded surrogate, past U+10FFFF, the engine's own escapes),
// backslashes, characters beyond the BMP, a folder named so, and a link to such a name.
void MakeHostileTree(const fs::path& folder) {
    std::vector<std::string> names;
    for (int byte = 1; byte < 256; ++byte)
        if (byte != '/') names.push_back(byte == '.' ? "..." : std::string(1, static_cast<char>(byte)));
    for (const char* name : {"caf\xE9", "caf\xEA", "trunc\xE2\x82", "over\xC0\xAF", "sur\xED\xA0\x80", "big\xF4\x90\x80\x80",
                             "esc\xEE\xBE\x80", "back\\slash", "\\lead", "trail\\", "emoji-\xF0\x9F\x98\x80-\xF0\x9F\x8E\x89.txt"})
        names.emplace_back(name);
    for (std::size_t i = 0; i < names.size(); ++i) WriteFile(folder / names[i], "content " + std::to_string(i) + "\n");
    WriteFile(folder / "dir\xE9\\x" / "in\xF0\x9F\x98\x80", "inner\n");
    fs::create_symlink("caf\xE9", folder / "link\xE9");
}

// What a folder holds by path, byte for byte: "F" and the content, "D", or "L" and the target.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> nodes;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        const std::string path = item.path().lexically_relative(folder).string();
        if (item.is_symlink())
            nodes[path] = "L" + fs::read_symlink(item.path()).string();
        else if (item.is_directory())
            nodes[path] = "D";
        else
            nodes[path] = "F" + ReadFile(item.path());
    }
    return nodes;
}

using NameFilter = bool (*)(const std::string& path);

bool AnyName(const std::string&) { return true; }
// What a peer keeps of a format that stores names as UTF-16 text: names that are UTF-8, without
// the private-use characters the engine escapes bytes as.
bool Utf8Name(const std::string& path) {
    const std::wstring wide = zorvik::rt::to_wide(path);
    return std::none_of(wide.begin(), wide.end(), [](wchar_t c) { return c >= 0xEF80 && c <= 0xEFFF; });
}
// bsdtar takes a backslash in a zip name for a separator, and drops one that leads a tar name.
bool NoBackslash(const std::string& path) { return path.find('\\') == std::string::npos; }
bool NoLeadingBackslash(const std::string& path) { return path.empty() || path[0] != '\\'; }
// Info-ZIP takes the name "-" for its standard input.
bool NotADash(const std::string& path) { return path != "-"; }

struct NameTrip {
    std::string archive;
    std::string make;     // run beside the hostile tree; "" when zorvik writes it
    std::string extract;  // run in the output folder, the archive as "@"; "" when zorvik reads it
    NameFilter kept;
};

TEST_F(ToolTest, EveryNameRoundTripsByteForByteThroughUsAndThePeers) {
    for (const char* program : {"7zz", "bsdtar", "zip"})
        if (!HaveProgram(program)) GTEST_SKIP() << program << " is not installed";
    MakeHostileTree(Path("hostile"));
    const auto original = Snapshot(Path("hostile"));
    const std::string sevenZip = "7zz x -bd -snl @", bsdtar = "bsdtar -xf @";
    const std::vector<NameTrip> trips = {
        {"ours.7z", "", sevenZip, AnyName},
        {"ours.7z", "", bsdtar, Utf8Name},
        {"ours.zip", "", sevenZip, AnyName},
        {"ours.zip", "", bsdtar, NoBackslash},
        {"ours.tar", "", sevenZip, AnyName},
        {"ours.tar", "", bsdtar, NoLeadingBackslash},
        {"ours.wim", "", sevenZip, AnyName},  // bsdtar reads no WIM
        {"7zz.7z", "7zz a -bd -snl 7zz.7z hostile", "", AnyName},
        {"7zz.zip", "7zz a -bd -snl 7zz.zip hostile", "", AnyName},
        {"7zz.tar", "7zz a -bd -snl 7zz.tar hostile", "", AnyName},
        {"7zz.wim", "7zz a -bd -snl 7zz.wim hostile", "", AnyName},
        {"bsdtar.tar", "bsdtar --format pax -cf bsdtar.tar hostile", "", AnyName},
        {"bsdtar.zip", "bsdtar --format zip -cf bsdtar.zip hostile", "", AnyName},
        {"bsdtar.7z", "bsdtar --format 7zip -cf bsdtar.7z hostile", "", Utf8Name},  // it cannot store the others
        {"infozip.zip", "zip -qry infozip.zip hostile", "", NotADash},
    };
    for (const char* format : {"7z", "zip", "tar", "wim"}) {
        const std::string archive = std::string("ours.") + format;
        const ToolResult created = Run({"create", archive, "hostile"});
        ASSERT_EQ(created.code, 0) << created.err;
    }
    // An update writes the names as a new archive does.
    WriteFile(Path("first.txt"), "first\n");
    ASSERT_EQ(Run({"create", "updated.7z", "first.txt"}).code, 0);
    ASSERT_EQ(Run({"add", "updated.7z", "hostile"}).code, 0);

    for (const NameTrip& trip : trips) {
        SCOPED_TRACE(trip.archive + (trip.extract.empty() ? " read by zorvik" : " read by " + trip.extract));
        if (!trip.make.empty()) Shell(trip.make);
        const std::string out = "out-" + std::to_string(&trip - trips.data());
        if (trip.extract.empty()) {
            const ToolResult extracted = Run({"extract", trip.archive, "-o", out});
            EXPECT_EQ(extracted.code, 0) << extracted.err;
        } else {
            fs::create_directories(Path(out));
            std::string command = trip.extract;
            command.replace(command.find('@'), 1, "../" + trip.archive);
            std::system(("cd '" + Path(out).string() + "' && " + command + " >/dev/null 2>&1").c_str());  // peers may fail on some names
        }
        const auto extracted = Snapshot(Path(out + "/hostile"));
        for (const auto& [path, node] : original) {
            if (!trip.kept(path)) continue;
            const auto found = extracted.find(path);
            EXPECT_TRUE(found != extracted.end() && found->second == node) << Printable(path);
        }
        // Where every name is kept, none is made up either.
        if (trip.kept == AnyName) {
            EXPECT_EQ(extracted.size(), original.size());
        }
    }

    const ToolResult updated = Run({"extract", "updated.7z", "-o", "out-updated"});
    EXPECT_EQ(updated.code, 0) << updated.err;
    EXPECT_EQ(Snapshot(Path("out-updated/hostile")), original);
    EXPECT_EQ(ReadFile(Path("out-updated/first.txt")), "first\n");
    EXPECT_NE(Run({"list", "ours.7z"}).out.find("caf\\xE9"), std::string::npos) << "listed escaped";
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
        {"move two of one name but for its case",
         {"move", "@", "Photos/old.jpg", "d", "--to", "photos"},
         {"photos/d/inside.txt", "photos/keep.jpg", "photos/old.jpg"}},
        {"a file beside a folder",
         {"add", "@", "--on-conflict", "replace", "D"},
         {"D", "Photos/old.jpg", "d/inside.txt", "photos/keep.jpg"}},
        {"into a third folder",
         {"add", "@", "--to", "PHOTOS", "new.txt"},
         {"PHOTOS/new.txt", "Photos/old.jpg", "d/inside.txt", "photos/keep.jpg"}},
    };
    const std::pair<const char*, const char*> makers[] = {{"case.7z", "7zz a -bd ../case.7z Photos photos d"},
                                                          {"case.tar", "bsdtar cf ../case.tar Photos photos d"},
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
