#include "cli/Commands.h"

#include <fmt/format.h>

#include <algorithm>
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
    const auto entries = ListEntries(archive.Root());
    const Statistics statistics = ReadStatistics(archive.Archive());
    const auto folders = std::count_if(entries.begin(), entries.end(), [](const Entry& entry) { return entry.folder; });
    const bool encrypted = std::any_of(entries.begin(), entries.end(), [](const Entry& entry) { return entry.encrypted; });
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
    const auto entries = ListEntries(archive.Root());
    if (options.json) {
        Json list = Json::array();
        for (const Entry& entry : entries) {
            const auto modified = IsoUtc(entry.modified);
            list.push_back({{"path", JsonText(entry.path)},
                            {"folder", entry.folder},
                            {"implicit", entry.implicit},
                            {"size", entry.size},
                            {"packedSize", entry.packedSize},
                            {"modified", modified ? Json(*modified) : Json(nullptr)},
                            {"encrypted", entry.encrypted}});
        }
        PrintJson({{"archive", archive.Name()}, {"format", FormatJson(archive.FormatName())}, {"entries", list}});
        return WithOpenProblems(archive, console, ExitCode::Success, false);
    }
    fmt::print("{:<19}  {:>12}  {:>12}  {}  {}\n", "Modified", "Size", "Packed", "Attr", "Path");
    std::uint64_t files = 0, folders = 0, size = 0, packed = 0;
    for (const Entry& entry : entries) {
        // d: folder, -: file; *: encrypted; an implicit folder shows neither time nor sizes.
        const std::string attributes = fmt::format("{}{}", entry.folder ? 'd' : '-', entry.encrypted ? '*' : ' ');
        const std::string sizes = entry.folder ? fmt::format("{:>12}  {:>12}", "", "") : fmt::format("{:>12}  {:>12}", entry.size, entry.packedSize);
        fmt::print("{}  {}  {:<4}  {}{}\n", TableTime(entry.modified), sizes, attributes, Printable(entry.path), entry.folder ? "/" : "");
        if (entry.folder) {
            ++folders;
        } else {
            ++files;
            size += entry.size;
            packed += entry.packedSize;
        }
    }
    fmt::print("{:<19}  {:>12}  {:>12}  {} files, {} folders\n", "", size, packed, files, folders);
    return WithOpenProblems(archive, console, ExitCode::Success, false);
}

ExitCode RunExtract(const ArchiveOptions& options, const ExtractOptions& extract, Console& console) {
    PasswordSource passwords(options.password, console);
    const OpenedArchive archive(options.archive, passwords);
    const auto entries = ListEntries(archive.Root());

    std::vector<com_ptr<IArchiveItem>> chosen;
    bool missing = false;
    if (extract.paths.empty()) {
        chosen.push_back(com_ptr<IArchiveFolder>::copy_from(archive.Root()).as<IArchiveItem>());
    } else {
        for (const std::string& path : extract.paths) {
            // Typed as the file system has names: bytes that are not UTF-8 as the archive keeps them.
            const std::string wanted = NormalizedPath(zorvik::rt::to_utf8(WideName(path)));
            if (wanted.empty()) {
                chosen.push_back(com_ptr<IArchiveFolder>::copy_from(archive.Root()).as<IArchiveItem>());
                continue;
            }
            bool found = false;
            for (const Entry& entry : entries) {
                if (NormalizedPath(entry.path) != wanted) continue;
                chosen.push_back(entry.item);
                found = true;
            }
            if (!found) {
                console.Error(path, "no such entry in " + archive.Name());
                missing = true;
            }
        }
        if (chosen.empty()) return ExitCode::Failed;
    }

    std::optional<DestinationFolder> destination;
    try {
        destination.emplace(extract.output);
    } catch (const ItemWriteError& error) {
        throw CommandError(ExitCode::Failed, extract.output, error.what());
    }
    ExtractionRun run(archive, entries, passwords, console, {ExtractionMode::Extract, &*destination, extract.existing});
    const ExitCode code = run.Run(chosen);
    if (code == ExitCode::Busy) destination->RemoveCreatedFolders();
    return WithOpenProblems(archive, console, code == ExitCode::Success && missing ? ExitCode::Failed : code, true);
}

ExitCode RunTest(const ArchiveOptions& options, Console& console) {
    PasswordSource passwords(options.password, console);
    const OpenedArchive archive(options.archive, passwords);
    const auto entries = ListEntries(archive.Root());
    ExtractionRun run(archive, entries, passwords, console, {ExtractionMode::Test, nullptr, ExistingFiles::Fail});
    const ExitCode code = WithOpenProblems(archive, console, run.Run({com_ptr<IArchiveFolder>::copy_from(archive.Root()).as<IArchiveItem>()}), true);
    if (code == ExitCode::Success) fmt::print("{}: OK, {} files tested\n", Printable(archive.Name()), run.FilesDone());
    return code;
}

}  // namespace Zorvik::Cli
