#include "cli/Commands.h"

#include <fmt/format.h>

#include <map>
#include <nlohmann/json.hpp>
#include <optional>

#include "cli/Component.h"
#include "cli/EntryList.h"
#include "cli/ExtractionRun.h"
#include "cli/FileTime.h"
#include "cli/OpenedArchive.h"
#include "cli/PasswordSource.h"
#include "cli/ProgressBar.h"
#include "cli/Text.h"

namespace Zorvik::Cli {

using Json = nlohmann::ordered_json;
using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;

namespace {

void PrintJson(const Json& value) {
    // Names come from archives: any byte sequence is printed rather than refused.
    fmt::print("{}\n", value.dump(2, ' ', false, Json::error_handler_t::replace));
}

std::string Join(const std::vector<std::string>& parts, std::string_view separator) {
    std::string result;
    for (const auto& part : parts) result += (result.empty() ? "" : std::string(separator)) + part;
    return result;
}

// The archive's own statistics, read once the tree is built.
struct Statistics {
    std::uint64_t fileCount = 0;
    std::uint64_t unpackedSize = 0;
    double ratio = 0;
    bool canUpdate = false;
    bool passwordUsed = false;
};

Statistics ReadStatistics(IArchive* archive) {
    Statistics statistics;
    check_hresult(archive->get_FileCount(&statistics.fileCount));
    check_hresult(archive->get_UnpackedSize(&statistics.unpackedSize));
    check_hresult(archive->get_CompressionRatio(&statistics.ratio));
    check_hresult(archive->get_CanUpdate(&statistics.canUpdate));
    check_hresult(archive->get_HasPassword(&statistics.passwordUsed));
    return statistics;
}

Json FormatJson(const std::string& name) { return name.empty() ? Json(nullptr) : Json(name); }

// One value on one line, for output written piece by piece; as PrintJson, it replaces bytes
// that are not UTF-8.
std::string OneLine(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

// Reports, once for each folder, entries too deep to list; false for those (and nothing below
// them is walked).
class DepthLimit {
public:
    explicit DepthLimit(Console& console) : console_(console) {}

    bool Allows(const Entry& entry) {
        if (entry.depth <= kMaxDepth) return true;
        if (entry.depth == kMaxDepth + 1) {
            const std::string folder = entry.path.substr(0, entry.path.rfind('/'));
            if (folder != reported_) console_.Error(folder, fmt::format("holds entries nested deeper than {} folders; they are not listed", kMaxDepth));
            reported_ = folder;
        }
        refused_ = true;
        return false;
    }
    bool Refused() const noexcept { return refused_; }

private:
    Console& console_;
    std::string reported_;
    bool refused_ = false;
};

// What the open found wrong, said after the command's own output. A command that ran over an
// archive with a volume missing read only part of it and fails; damaged headers fail the
// commands that decode (checksums are what they are for).
ExitCode WithOpenProblems(const OpenedArchive& archive, Console& console, ExitCode code, bool decoded) {
    bool failed = false;
    if (archive.HasDamagedHeaders()) {
        console.Error(archive.Name(), "damaged headers: some fail their checksums (their entries were read as they are)");
        failed = decoded;
    }
    if (!archive.MissingVolume().empty()) {
        console.Error(archive.Name(), "volume " + archive.MissingVolume() + " is missing: what it holds cannot be read");
        failed = true;
    }
    return failed && code == ExitCode::Success ? ExitCode::Failed : code;
}

}  // namespace

ExitCode RunFormats(bool json) {
    const auto formats = Formats();
    if (json) {
        Json list = Json::array();
        for (const auto& format : formats)
            list.push_back({{"name", format.name}, {"extensions", format.extensions}, {"canUpdate", format.canUpdate}, {"keepsName", format.keepsName}});
        PrintJson({{"formats", list}});
        return ExitCode::Success;
    }
    fmt::print("{:<12} {:<12} {:<7} {}\n", "Format", "Extensions", "Update", "Keeps name");
    for (const auto& format : formats)
        fmt::print("{:<12} {:<12} {:<7} {}\n", format.name, Join(format.extensions, " "), format.canUpdate ? "yes" : "no", format.keepsName ? "yes" : "no");
    return ExitCode::Success;
}

ExitCode RunInfo(const ArchiveOptions& options, Console& console) {
    PasswordSource passwords(options.password, console);
    const OpenedArchive archive(options.archive, passwords);
    std::uint64_t folders = 0;
    bool encrypted = false;
    WalkEntries(archive.Root(), [&](const Entry& entry) {
        if (entry.folder) ++folders;
        encrypted = encrypted || entry.encrypted;
        return true;
    });
    const Statistics statistics = ReadStatistics(archive.Archive());
    if (options.json) {
        PrintJson({{"archive", archive.Name()},
                   {"format", FormatJson(archive.FormatName())},
                   {"packedSize", archive.PackedSize()},
                   {"unpackedSize", statistics.unpackedSize},
                   {"fileCount", statistics.fileCount},
                   {"folderCount", folders},
                   {"compressionRatio", statistics.ratio},
                   {"multiVolume", archive.MultiVolume()},
                   {"canUpdate", statistics.canUpdate},
                   {"passwordUsed", statistics.passwordUsed},
                   {"encrypted", encrypted}});
        return WithOpenProblems(archive, console, ExitCode::Success, false);
    }
    const auto yesNo = [](bool value) { return value ? "yes" : "no"; };
    fmt::print("Archive:            {}\n", Printable(archive.Name()));
    fmt::print("Format:             {}\n", archive.FormatName().empty() ? "unknown" : archive.FormatName());
    fmt::print("Packed size:        {} ({} bytes)\n", ReadableSize(archive.PackedSize()), archive.PackedSize());
    fmt::print("Unpacked size:      {} ({} bytes)\n", ReadableSize(statistics.unpackedSize), statistics.unpackedSize);
    fmt::print("Files:              {}\n", statistics.fileCount);
    fmt::print("Folders:            {}\n", folders);
    fmt::print("Compression ratio:  {:.1f}%\n", statistics.ratio * 100);
    fmt::print("Multi-volume:       {}\n", yesNo(archive.MultiVolume()));
    fmt::print("Can update:         {}\n", yesNo(statistics.canUpdate));
    fmt::print("Password used:      {}\n", yesNo(statistics.passwordUsed));
    fmt::print("Encrypted entries:  {}\n", yesNo(encrypted));
    return WithOpenProblems(archive, console, ExitCode::Success, false);
}

ExitCode RunList(const ArchiveOptions& options, Console& console) {
    PasswordSource passwords(options.password, console);
    const OpenedArchive archive(options.archive, passwords);
    DepthLimit depthLimit(console);
    // Written as the tree is walked: nothing of an entry is kept once it is printed.
    if (options.json) {
        fmt::print("{{\n  \"archive\": {},\n  \"format\": {},\n  \"entries\": [", OneLine(archive.Name()),
                   OneLine(FormatJson(archive.FormatName())));
        const char* separator = "\n";
        WalkEntries(archive.Root(), [&](const Entry& entry) {
            if (!depthLimit.Allows(entry)) return false;
            const auto modified = IsoUtc(entry.modified);
            fmt::print(
                "{}    {{\n      \"path\": {},\n      \"folder\": {},\n      \"implicit\": {},\n      \"size\": {},\n"
                "      \"packedSize\": {},\n      \"modified\": {},\n      \"encrypted\": {}\n    }}",
                separator, OneLine(JsonText(entry.path)), entry.folder, entry.implicit, entry.size, entry.packedSize,
                modified ? OneLine(*modified) : "null", entry.encrypted);
            separator = ",\n";
            return true;
        });
        fmt::print("{}]\n}}\n", *separator == ',' ? "\n  " : "");
        return WithOpenProblems(archive, console, depthLimit.Refused() ? ExitCode::Failed : ExitCode::Success, false);
    }
    fmt::print("{:<19}  {:>12}  {:>12}  {}  {}\n", "Modified", "Size", "Packed", "Attr", "Path");
    std::uint64_t files = 0, folders = 0, size = 0, packed = 0;
    WalkEntries(archive.Root(), [&](const Entry& entry) {
        if (!depthLimit.Allows(entry)) return false;
        // d: folder, -: file; *: encrypted; an implicit folder shows neither time nor sizes.
        const char attributes[] = {entry.folder ? 'd' : '-', entry.encrypted ? '*' : ' ', '\0'};
        if (entry.folder) {
            fmt::print("{}  {:>12}  {:>12}  {:<4}  {}/\n", TableTime(entry.modified), "", "", attributes, Printable(entry.path));
            ++folders;
        } else {
            fmt::print("{}  {:>12}  {:>12}  {:<4}  {}\n", TableTime(entry.modified), entry.size, entry.packedSize, attributes, Printable(entry.path));
            ++files;
            size += entry.size;
            packed += entry.packedSize;
        }
        return true;
    });
    fmt::print("{:<19}  {:>12}  {:>12}  {} files, {} folders\n", "", size, packed, files, folders);
    return WithOpenProblems(archive, console, depthLimit.Refused() ? ExitCode::Failed : ExitCode::Success, false);
}

ExitCode RunExtract(const ArchiveOptions& options, const ExtractOptions& extract, Console& console) {
    PasswordSource passwords(options.password, console);
    const OpenedArchive archive(options.archive, passwords);

    std::vector<com_ptr<IArchiveItem>> chosen;
    bool missing = false;
    if (extract.paths.empty()) {
        chosen.push_back(com_ptr<IArchiveFolder>::copy_from(archive.Root()).as<IArchiveItem>());
    } else {
        // Typed as the file system has names: bytes that are not UTF-8 as the archive keeps them.
        std::map<std::string, bool> wanted;  // normalised path: found
        for (const std::string& path : extract.paths) wanted.emplace(NormalizedPath(zorvik::rt::to_utf8(WideName(path))), false);
        if (const auto root = wanted.find(std::string()); root != wanted.end()) {
            chosen.push_back(com_ptr<IArchiveFolder>::copy_from(archive.Root()).as<IArchiveItem>());
            root->second = true;
        }
        WalkEntries(archive.Root(), [&](const Entry& entry) {
            if (const auto found = wanted.find(NormalizedPath(entry.path)); found != wanted.end()) {
                chosen.push_back(com_ptr<IArchiveItem>::copy_from(entry.item));
                found->second = true;
            }
            return true;
        });
        for (const std::string& path : extract.paths) {
            if (wanted.at(NormalizedPath(zorvik::rt::to_utf8(WideName(path))))) continue;
            console.Error(path, "no such entry in " + archive.Name());
            missing = true;
        }
        if (chosen.empty()) return ExitCode::Failed;
    }

    std::optional<DestinationFolder> destination;
    try {
        destination.emplace(extract.output);
    } catch (const ItemWriteError& error) {
        throw CommandError(ExitCode::Failed, extract.output, error.what());
    }
    ExtractionRun run(archive, passwords, console, {ExtractionMode::Extract, &*destination, extract.existing});
    const ExitCode code = run.Run(chosen);
    if (code == ExitCode::Busy) destination->RemoveCreatedFolders();
    return WithOpenProblems(archive, console, code == ExitCode::Success && missing ? ExitCode::Failed : code, true);
}

ExitCode RunTest(const ArchiveOptions& options, Console& console) {
    PasswordSource passwords(options.password, console);
    const OpenedArchive archive(options.archive, passwords);
    ExtractionRun run(archive, passwords, console, {ExtractionMode::Test, nullptr, ExistingFiles::Fail});
    const ExitCode code = WithOpenProblems(archive, console, run.Run({com_ptr<IArchiveFolder>::copy_from(archive.Root()).as<IArchiveItem>()}), true);
    if (code == ExitCode::Success) fmt::print("{}: OK, {} files tested\n", Printable(archive.Name()), run.FilesDone());
    return code;
}

}  // namespace Zorvik::Cli
