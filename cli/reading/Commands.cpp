#include "cli/reading/Commands.h"

#include <fmt/compile.h>
#include <fmt/format.h>

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>

#include "cli/reading/Component.h"
#include "cli/reading/EntryList.h"
#include "cli/extracting/ExtractionRun.h"
#include "cli/reading/FileTime.h"
#include "cli/reading/OpenedArchive.h"
#include "cli/reading/PasswordSource.h"
#include "cli/terminal/ProgressBar.h"
#include "cli/reading/Selection.h"
#include "cli/terminal/Text.h"
#include "zorvik/Version.h"

namespace Zorvik::Cli {

using Json = nlohmann::ordered_json;

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

Statistics ReadStatistics(const zorvik::Archive& archive) {
    return {archive.file_count(), archive.unpacked_size(), archive.compression_ratio(), archive.can_update(), archive.has_password()};
}

Json FormatJson(const std::string& name) { return name.empty() ? Json(nullptr) : Json(name); }

// A JSON string, or null for no text, for output written piece by piece.
std::string NullableJson(std::string_view utf8) { return utf8.empty() ? "null" : JsonString(utf8); }

// Reports, once for each folder, entries too deep to list; false for those (and nothing below
// them is walked).
class DepthLimit {
public:
    explicit DepthLimit(Console& console) : console_(console) {}

    bool Allows(const Entry& entry) {
        if (entry.depth <= kMaxDepth) return true;
        if (entry.depth == kMaxDepth + 1) {
            const std::string folder = entry.path.substr(0, entry.path.rfind('/'));
            if (folder != reported_)
                console_.Error(folder, fmt::format("holds entries nested deeper than {} folders; they are not listed", kMaxDepth));
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
// archive with a volume missing, or cut short, read only part of it and fails; damaged headers
// fail the commands that decode (checksums are what they are for).
ExitCode WithOpenProblems(const OpenedArchive& archive, Console& console, ExitCode code, bool decoded) {
    bool failed = false;
    if (archive.HasDamagedHeaders()) {
        console.Error(archive.Name(), "damaged headers: some fail their checksums (their entries were read as they are)");
        failed = decoded;
    }
    if (!archive.MissingVolume().empty()) {
        console.Error(archive.Name(), "volume " + archive.MissingVolume() + " is missing: what it holds cannot be read");
        failed = true;
    } else if (archive.IsCutShort()) {
        console.Error(archive.Name(), "unexpected end of archive: what lay past it is missing");
        failed = true;
    }
    return failed && code == ExitCode::Success ? ExitCode::Failed : code;
}

// Says the patterns that chose nothing; whether there were any.
bool ReportUnmatched(const Selection& selection, const OpenedArchive& archive, Console& console) {
    const std::vector<std::string> unmatched = selection.Unmatched();
    for (const std::string& pattern : unmatched) console.Error(pattern, "no such entry in " + archive.Name());
    return !unmatched.empty();
}

// What extract and test run over: the topmost nodes the patterns choose (the root without
// patterns; excludes are left to the run) and, when asked for, the paths of the archive's
// symbolic links.
struct Chosen {
    std::vector<zorvik::ArchiveItem> nodes;
    std::set<std::string> linkPaths;
};

Chosen Choose(const OpenedArchive& archive, Selection& selection, bool withLinks) {
    Chosen chosen;
    const bool byPattern = selection.HasIncludes();
    if (!byPattern) chosen.nodes.push_back(archive.Root());
    if (!byPattern && !withLinks) return chosen;
    std::string chosenFolder;  // the last folder chosen, with its "/": what is below it comes with it
    WalkEntries(archive.Root(), [&](const Entry& entry) {
        // Deeper entries are refused by the run, which reports them.
        if (entry.depth > kMaxDepth || selection.Excluded(entry.path)) return false;
        if (withLinks && entry.IsSymbolicLink()) chosen.linkPaths.insert(entry.path);
        const bool below = !chosenFolder.empty() && entry.path.starts_with(chosenFolder);
        if (byPattern && selection.Includes(entry.path) && !below) {
            chosen.nodes.push_back(entry.item);
            if (entry.folder) chosenFolder = entry.path + "/";
        }
        return true;
    });
    return chosen;
}

// --json of extract and test: each item as the run tells how it fared, then how the run went.
class JsonRunReport {
public:
    JsonRunReport(const OpenedArchive& archive, Console& console) {
        console.ReportBegun();
        fmt::print("{{\n  \"archive\": {},\n  \"format\": {},\n  \"items\": [", JsonString(archive.Name()),
                   NullableJson(archive.FormatName()));
    }

    void Add(const ItemResult& result) {
        static constexpr const char* kResults[] = {"ok", "skipped", "failed"};
        fmt::print("{}    {{\"path\": {}, \"folder\": {}, \"result\": \"{}\", \"error\": {}}}", separator_, JsonString(result.path),
                   result.folder, kResults[static_cast<int>(result.kind)], NullableJson(result.reason));
        separator_ = ",\n";
    }

    void End(ExitCode code, const ExtractionRun& run, double seconds) {
        fmt::print("{}],\n  \"ok\": {},\n  \"files\": {},\n  \"size\": {},\n  \"seconds\": {}\n}}\n", *separator_ == ',' ? "\n  " : "",
                   code == ExitCode::Success, run.FilesDone(), run.BytesDone(), seconds);
    }

private:
    const char* separator_ = "\n";
};

// Runs extract or test over what options choose, with its --json or its summary line (on out,
// after a success, unless quiet; a failure has said so on stderr, item by item).
ExitCode RunExtraction(const ArchiveOptions& options, const OpenedArchive& archive, PasswordSource& passwords, Console& console,
                       ExtractionSettings settings, std::FILE* out) {
    Selection selection(options.paths, options.excludes);
    const bool writesFiles = settings.mode == ExtractionMode::Extract && !settings.toStandardOutput;
    Chosen chosen = Choose(archive, selection, writesFiles);
    const bool unmatched = ReportUnmatched(selection, archive, console);
    if (chosen.nodes.empty()) return ExitCode::Failed;
    if (!options.excludes.empty()) settings.selection = &selection;
    settings.linkPaths = std::move(chosen.linkPaths);
    settings.threads = options.threads;
    std::optional<JsonRunReport> json;
    if (options.json) {
        json.emplace(archive, console);
        settings.report = [&](const ItemResult& result) { json->Add(result); };
    }
    const bool test = settings.mode == ExtractionMode::Test;
    const DestinationFolder* destination = settings.destination;
    ExtractionRun run(archive, passwords, console, std::move(settings));
    const auto started = std::chrono::steady_clock::now();
    ExitCode code = run.Run(chosen.nodes);
    if (code == ExitCode::Busy && destination) destination->RemoveCreatedFolders();
    code = WithOpenProblems(archive, console, code == ExitCode::Success && unmatched ? ExitCode::Failed : code, true);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (json)
        json->End(code, run, seconds);
    else if (code == ExitCode::Success && !options.quiet)
        fmt::print(out, "{}: OK, {} file{} {}, {}, {:.1f} s\n", Printable(archive.Name()), run.FilesDone(), run.FilesDone() == 1 ? "" : "s",
                   test ? "tested" : "extracted", ReadableSize(run.BytesDone()), seconds);
    return code;
}

// The public interface names only the first extension of a format.
std::vector<std::string> Extensions(const FormatInfo& format) {
    if (format.extension.empty()) return {};
    return {format.extension};
}

}  // namespace

ExitCode RunFormats(bool json) {
    const auto formats = Formats();
    if (json) {
        Json list = Json::array();
        for (const auto& format : formats)
            list.push_back({{"name", format.name},
                            {"extensions", Extensions(format)},
                            {"canUpdate", format.can_update},
                            {"keepsName", format.keeps_name}});
        PrintJson({{"formats", list}});
        return ExitCode::Success;
    }
    fmt::print("{:<12} {:<12} {:<7} {}\n", "Format", "Extensions", "Update", "Keeps name");
    for (const auto& format : formats)
        fmt::print("{:<12} {:<12} {:<7} {}\n", format.name, Join(Extensions(format), " "), format.can_update ? "yes" : "no",
                   format.keeps_name ? "yes" : "no");
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
        console.ReportBegun();
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
    Selection selection(options.paths, options.excludes);
    DepthLimit depthLimit(console);
    // The entries to list; what is below an excluded one is not walked.
    const auto walk = [&](const std::function<void(const Entry&)>& print) {
        WalkEntries(archive.Root(), [&](const Entry& entry) {
            if (!depthLimit.Allows(entry) || selection.Excluded(entry.path)) return false;
            if (selection.Includes(entry.path)) print(entry);
            return true;
        });
        const bool unmatched = ReportUnmatched(selection, archive, console);
        return depthLimit.Refused() || unmatched ? ExitCode::Failed : ExitCode::Success;
    };
    // Written as the tree is walked: nothing of an entry is kept once it is printed.
    if (options.json) {
        console.ReportBegun();
        fmt::print("{{\n  \"archive\": {},\n  \"format\": {},\n  \"entries\": [", JsonString(archive.Name()),
                   NullableJson(archive.FormatName()));
        const char* separator = "\n";
        const ExitCode code = walk([&](const Entry& entry) {
            const auto modified = IsoUtc(entry.modified);
            fmt::print(FMT_COMPILE("{}    {{\n      \"path\": {},\n      \"folder\": {},\n      \"implicit\": {},\n      \"size\": {},\n"
                                   "      \"packedSize\": {},\n      \"modified\": {},\n      \"encrypted\": {},\n      \"mode\": {},\n"
                                   "      \"symbolicLink\": {},\n      \"linkTarget\": {},\n      \"hardLinkTarget\": {}\n    }}"),
                       separator, JsonString(entry.path), entry.folder, entry.implicit, entry.size, entry.packedSize,
                       NullableJson(modified.value_or("")), entry.encrypted, entry.mode ? std::to_string(entry.mode) : "null",
                       entry.IsSymbolicLink(), NullableJson(entry.symbolicLinkTarget), NullableJson(entry.hardLinkTarget));
            separator = ",\n";
        });
        fmt::print("{}]\n}}\n", *separator == ',' ? "\n  " : "");
        return WithOpenProblems(archive, console, code, false);
    }
    fmt::print("{:<19}  {:>12}  {:>12}  {}  {}\n", options.localTime ? "Modified (local)" : "Modified (UTC)", "Size", "Packed", "Attr",
               "Path");
    std::uint64_t files = 0, folders = 0, size = 0, packed = 0;
    const ExitCode code = walk([&](const Entry& entry) {
        // d: folder, l: symbolic link, -: file; *: encrypted; an implicit folder shows neither
        // time nor sizes. A link's target follows its path, as ls and tar show it.
        const char attributes[] = {entry.folder ? 'd' : entry.IsSymbolicLink() ? 'l' : '-', entry.encrypted ? '*' : ' ', '\0'};
        const std::string target = !entry.symbolicLinkTarget.empty() ? " -> " + Printable(entry.symbolicLinkTarget)
                                   : entry.IsHardLink()              ? " link to " + Printable(entry.hardLinkTarget)
                                                                     : std::string();
        if (entry.folder) {
            fmt::print(FMT_COMPILE("{}  {:>12}  {:>12}  {:<4}  {}/\n"), TableTime(entry.modified, options.localTime), "", "", attributes,
                       Printable(entry.path));
            ++folders;
        } else {
            fmt::print(FMT_COMPILE("{}  {:>12}  {:>12}  {:<4}  {}{}\n"), TableTime(entry.modified, options.localTime), entry.size,
                       entry.packedSize, attributes, Printable(entry.path), target);
            ++files;
            size += entry.size;
            packed += entry.packedSize;
        }
    });
    fmt::print("{:<19}  {:>12}  {:>12}  {} files, {} folders\n", "", size, packed, files, folders);
    return WithOpenProblems(archive, console, code, false);
}

ExitCode RunExtract(const ArchiveOptions& options, const ExtractOptions& extract, Console& console) {
    PasswordSource passwords(options.password, console);
    const OpenedArchive archive(options.archive, passwords);
    std::optional<DestinationFolder> destination;
    if (!extract.toStandardOutput) {
        try {
            destination.emplace(extract.output, extract.preservePermissions);
        } catch (const ItemWriteError& error) {
            throw CommandError(ExitCode::Failed, extract.output, error.what());
        }
    }
    ExtractionSettings settings{ExtractionMode::Extract, destination ? &*destination : nullptr, extract.existing};
    settings.flat = extract.flat;
    settings.linksAsFiles = extract.linksAsFiles;
    settings.toStandardOutput = extract.toStandardOutput;
    // On standard output only the files' data.
    return RunExtraction(options, archive, passwords, console, std::move(settings), extract.toStandardOutput ? stderr : stdout);
}

ExitCode RunTest(const ArchiveOptions& options, Console& console) {
    PasswordSource passwords(options.password, console);
    const OpenedArchive archive(options.archive, passwords);
    return RunExtraction(options, archive, passwords, console, {ExtractionMode::Test, nullptr, ExistingFiles::Fail}, stdout);
}

ExitCode RunVersion() {
    const zorvik::Versions versions = zorvik::versions();
    fmt::print("zorvik {}\ncomponent {}\narchive engine {}\n", ZORVIK_VERSION, versions.component, versions.engine);
    return ExitCode::Success;
}

}  // namespace Zorvik::Cli
