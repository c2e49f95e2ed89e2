#include "cli/Commands.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>

#include "Zorvik/ComponentVersions.h"
#include "cli/Component.h"
#include "cli/EntryList.h"
#include "cli/ExtractionRun.h"
#include "cli/FileTime.h"
#include "cli/OpenedArchive.h"
#include "cli/PasswordSource.h"
#include "cli/ProgressBar.h"
#include "cli/Selection.h"
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

Json TargetJson(const std::wstring& target) { return target.empty() ? Json(nullptr) : Json(JsonText(zorvik::rt::to_utf8(target))); }

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

// The entries the command works on. A pattern that chooses nothing is said, and fails the command.
std::vector<const Entry*> Select(const ArchiveOptions& options, const OpenedArchive& archive, const std::vector<Entry>& entries,
                                 Console& console, bool& unmatched) {
    Selection selection(options.paths, options.excludes);
    std::vector<const Entry*> selected = selection.Apply(entries);
    for (const std::string& pattern : selection.Unmatched()) console.Error(pattern, "no such entry in " + archive.Name());
    unmatched = !selection.Unmatched().empty();
    return selected;
}

const char* OutcomeName(ItemOutcome::Kind kind) {
    switch (kind) {
        case ItemOutcome::Kind::Done: return "ok";
        case ItemOutcome::Kind::Skipped: return "skipped";
        case ItemOutcome::Kind::Failed: return "failed";
        default: return "not done";
    }
}

// How an extract or test run went: its JSON, or, after a success, one line (on out) unless
// quiet. A failure has said so on stderr, item by item.
void ReportRun(const ArchiveOptions& options, const OpenedArchive& archive, const std::vector<const Entry*>& selected, const ExtractionRun& run,
               double seconds, ExitCode code, const char* done, std::FILE* out) {
    if (options.json) {
        Json items = Json::array();
        for (const Entry* entry : selected) {
            if (entry->implicit) continue;
            const ItemOutcome outcome = run.Outcome(*entry);
            items.push_back({{"path", JsonText(entry->path)},
                             {"folder", entry->folder},
                             {"result", OutcomeName(outcome.kind)},
                             {"error", outcome.reason.empty() ? Json(nullptr) : Json(JsonText(outcome.reason))}});
        }
        PrintJson({{"archive", archive.Name()},
                   {"format", FormatJson(archive.FormatName())},
                   {"ok", code == ExitCode::Success},
                   {"files", run.FilesDone()},
                   {"size", run.BytesDone()},
                   {"seconds", seconds},
                   {"items", items}});
    } else if (code == ExitCode::Success && !options.quiet) {
        fmt::print(out, "{}: OK, {} file{} {}, {}, {:.1f} s\n", Printable(archive.Name()), run.FilesDone(), run.FilesDone() == 1 ? "" : "s", done,
                   ReadableSize(run.BytesDone()), seconds);
    }
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
    bool unmatched = false;
    const auto selected = Select(options, archive, entries, console, unmatched);
    const ExitCode code = unmatched ? ExitCode::Failed : ExitCode::Success;
    if (options.json) {
        Json list = Json::array();
        for (const Entry* listed : selected) {
            const Entry& entry = *listed;
            const auto modified = IsoUtc(entry.modified);
            list.push_back({{"path", JsonText(entry.path)},
                            {"folder", entry.folder},
                            {"implicit", entry.implicit},
                            {"size", entry.size},
                            {"packedSize", entry.packedSize},
                            {"modified", modified ? Json(*modified) : Json(nullptr)},
                            {"encrypted", entry.encrypted},
                            {"mode", entry.mode ? Json(entry.mode) : Json(nullptr)},
                            {"symbolicLink", entry.IsSymbolicLink()},
                            {"linkTarget", TargetJson(entry.symbolicLinkTarget)},
                            {"hardLinkTarget", TargetJson(entry.hardLinkTarget)}});
        }
        PrintJson({{"archive", archive.Name()}, {"format", FormatJson(archive.FormatName())}, {"entries", list}});
        return WithOpenProblems(archive, console, code, false);
    }
    fmt::print("{:<19}  {:>12}  {:>12}  {}  {}\n", options.localTime ? "Modified (local)" : "Modified (UTC)", "Size", "Packed", "Attr", "Path");
    std::uint64_t files = 0, folders = 0, size = 0, packed = 0;
    for (const Entry* listed : selected) {
        const Entry& entry = *listed;
        // d: folder, l: symbolic link, -: file; *: encrypted; an implicit folder shows neither
        // time nor sizes. A link's target follows its path, as ls and tar show it.
        const std::string attributes = fmt::format("{}{}", entry.folder ? 'd' : entry.IsSymbolicLink() ? 'l' : '-', entry.encrypted ? '*' : ' ');
        const std::string sizes = entry.folder ? fmt::format("{:>12}  {:>12}", "", "") : fmt::format("{:>12}  {:>12}", entry.size, entry.packedSize);
        const std::string target = !entry.symbolicLinkTarget.empty() ? " -> " + Printable(zorvik::rt::to_utf8(entry.symbolicLinkTarget))
                                   : entry.IsHardLink()              ? " link to " + Printable(zorvik::rt::to_utf8(entry.hardLinkTarget))
                                                                     : std::string();
        fmt::print("{}  {}  {:<4}  {}{}{}\n", TableTime(entry.modified, options.localTime), sizes, attributes, Printable(entry.path),
                   entry.folder ? "/" : "", target);
        if (entry.folder) {
            ++folders;
        } else {
            ++files;
            size += entry.size;
            packed += entry.packedSize;
        }
    }
    fmt::print("{:<19}  {:>12}  {:>12}  {} files, {} folders\n", "", size, packed, files, folders);
    return WithOpenProblems(archive, console, code, false);
}

ExitCode RunExtract(const ArchiveOptions& options, const ExtractOptions& extract, Console& console) {
    PasswordSource passwords(options.password, console);
    const OpenedArchive archive(options.archive, passwords);
    const auto entries = ListEntries(archive.Root());
    bool unmatched = false;
    const auto selected = Select(options, archive, entries, console, unmatched);
    if (selected.empty() && unmatched) return ExitCode::Failed;

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
    ExtractionRun run(archive, entries, passwords, console, settings);
    const auto started = std::chrono::steady_clock::now();
    ExitCode code = run.Run(selected);
    if (code == ExitCode::Busy && destination) destination->RemoveCreatedFolders();
    code = WithOpenProblems(archive, console, code == ExitCode::Success && unmatched ? ExitCode::Failed : code, true);
    // On standard output only the files' data.
    ReportRun(options, archive, selected, run, SecondsSince(started), code, "extracted", extract.toStandardOutput ? stderr : stdout);
    return code;
}

ExitCode RunTest(const ArchiveOptions& options, Console& console) {
    PasswordSource passwords(options.password, console);
    const OpenedArchive archive(options.archive, passwords);
    const auto entries = ListEntries(archive.Root());
    bool unmatched = false;
    const auto selected = Select(options, archive, entries, console, unmatched);
    if (selected.empty() && unmatched) return ExitCode::Failed;
    ExtractionRun run(archive, entries, passwords, console, {ExtractionMode::Test, nullptr, ExistingFiles::Fail});
    const auto started = std::chrono::steady_clock::now();
    ExitCode code = run.Run(selected);
    code = WithOpenProblems(archive, console, code == ExitCode::Success && unmatched ? ExitCode::Failed : code, true);
    ReportRun(options, archive, selected, run, SecondsSince(started), code, "tested", stdout);
    return code;
}

ExitCode RunVersion() {
    const auto versions = ArchiveInfoStatics().as<IComponentVersions>();
    zorvik::rt::hstring component, engine;
    check_hresult(versions->get_ComponentVersion(component.put()));
    check_hresult(versions->get_EngineVersion(engine.put()));
    fmt::print("zorvik {}\ncomponent {}\narchive engine {}\n", ZORVIK_VERSION, zorvik::rt::to_utf8(component.view()),
               zorvik::rt::to_utf8(engine.view()));
    return ExitCode::Success;
}

}  // namespace Zorvik::Cli
