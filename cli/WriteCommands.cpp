#include "cli/WriteCommands.h"

#include <fmt/format.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "cli/AddedFiles.h"
#include "cli/ArchiveReplacement.h"
#include "cli/AsyncWait.h"
#include "cli/Component.h"
#include "cli/EntryList.h"
#include "cli/Failure.h"
#include "cli/OpenedArchive.h"
#include "cli/PasswordSource.h"
#include "cli/ProgressBar.h"
#include "cli/UpdateRun.h"
#include "zorvik/ArchiveSource.h"

namespace Zorvik::Cli {

using Json = nlohmann::ordered_json;
using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;

namespace {

// What a command wrote, for its report.
struct Written {
    const char* operation;
    std::string format;
    UpdateResult result;
    std::vector<std::pair<const char*, std::uint64_t>> counts;
    std::uint64_t archiveSize;
};

ExitCode Report(const WriteOptions& options, const Written& written, bool anyItemFailed) {
    const bool wrote = written.result == UpdateResult::Success;
    if (options.json) {
        Json report{{"archive", options.archive}, {"operation", written.operation}, {"format", written.format},
                    {"result", wrote ? "written" : "nothingToUpdate"}};
        for (const auto& [name, count] : written.counts) report[name] = count;
        report["archiveSize"] = wrote ? Json(written.archiveSize) : Json(nullptr);
        fmt::print("{}\n", report.dump(2, ' ', false, Json::error_handler_t::replace));
    } else if (!wrote && !options.quiet) {
        fmt::print("{}: nothing to update\n", options.archive);
    } else if (!options.quiet) {
        std::string counts;
        for (const auto& [name, count] : written.counts)
            if (count != 0 || counts.empty()) counts += fmt::format("{}{} {}", counts.empty() ? "" : ", ", count, name);
        fmt::print("{}: {}; {} written\n", options.archive, counts, ReadableSize(written.archiveSize));
    }
    return anyItemFailed ? ExitCode::Failed : ExitCode::Success;
}

bool PasswordGiven(const WriteOptions& options) {
    const char* environment = std::getenv("ZORVIK_PASSWORD");
    return options.password || (environment && *environment);
}

// Writing asks for no password it was not given: one from --password or $ZORVIK_PASSWORD, or
// the one the archive was opened with (which the source has already).
std::function<password_answer()> WritePassword(PasswordSource& passwords, bool available) {
    return [&passwords, available] {
        const auto password = available ? passwords.Get() : std::nullopt;
        return password ? password_answer::given(*password) : password_answer::declined();
    };
}

ConflictPolicy PolicyFor(const std::string& onConflict) {
    if (onConflict == "replace") return ConflictPolicy::Replace;
    if (onConflict == "skip") return ConflictPolicy::Skip;
    if (onConflict == "rename") return ConflictPolicy::Rename;
    // Asking needs someone to answer.
    return (onConflict.empty() || onConflict == "ask") && ::isatty(STDIN_FILENO) ? ConflictPolicy::Ask : ConflictPolicy::Fail;
}

std::string FileTypeOf(const std::string& archivePath) {
    const std::string extension = std::filesystem::path(archivePath).extension().string();
    return extension.empty() ? extension : extension.substr(1);
}

bool HasExtension(const FormatInfo& format, const std::string& fileType) {
    bool matches = false;
    check_hresult(format.format->HasExtension(zorvik::rt::hstring(zorvik::rt::to_wide(fileType)).get(), &matches));
    return matches;
}

// The format a new archive is written in, and the file type that makes the component choose it.
std::pair<FormatInfo, std::string> FormatForNewArchive(const WriteOptions& options) {
    const auto formats = Formats();
    std::string fileType = FileTypeOf(options.archive);
    auto format = formats.end();
    if (!options.format.empty()) {
        format = std::find_if(formats.begin(), formats.end(), [&](const FormatInfo& f) { return ::strcasecmp(f.name.c_str(), options.format.c_str()) == 0; });
        if (format == formats.end()) throw CommandError(ExitCode::Usage, options.archive, "no format is named " + options.format + " (see zorvik formats)");
        fileType = format->extensions.empty() ? "" : format->extensions.front();
    } else if (!fileType.empty()) {
        format = std::find_if(formats.begin(), formats.end(), [&](const FormatInfo& f) { return HasExtension(f, fileType); });
    }
    if (format == formats.end()) throw CommandError(ExitCode::Usage, options.archive, "its name tells no format: give --format");
    // The component takes the first format that carries the file type.
    const auto chosen = std::find_if(formats.begin(), formats.end(), [&](const FormatInfo& f) { return HasExtension(f, fileType); });
    if (!format->canUpdate || chosen != format) throw CommandError(ExitCode::Failed, options.archive, "cannot be written: " + format->name);
    return {*format, fileType};
}

[[noreturn]] void SingleFileOnly(const std::string& archiveName, const std::string& format) {
    throw CommandError(ExitCode::Usage, archiveName, format + " holds exactly one file (to pack more, make a tar of them first)");
}

std::function<bool(const struct stat&)> LeaveOutArchive(const ArchiveReplacement& target) {
    return [&target](const struct stat& file) { return target.IsArchiveOrTemporary(file); };
}

UpdateRun::Start Adding(IArchive* archive, const std::vector<com_ptr<archive_addable>>& addables, const com_ptr<IRandomAccessStream>& destination) {
    return [=](IUpdateCallback* callback) {
        std::vector<IArchiveAddable*> raw;
        for (const auto& addable : addables) raw.push_back(addable.get());
        com_ptr<IAsyncOperation<UpdateResult>> operation;
        check_hresult(archive->AddAsync(static_cast<std::uint32_t>(raw.size()), raw.data(), callback, destination.get(), operation.put()));
        return operation;
    };
}

std::vector<IArchiveItem*> Raw(const std::vector<com_ptr<IArchiveItem>>& items) {
    std::vector<IArchiveItem*> raw;
    for (const auto& item : items) raw.push_back(item.get());
    return raw;
}

// A new archive of the named format (or the one its name tells) holding the paths.
ExitCode WriteNew(const WriteOptions& options, Console& console, ArchiveReplacement& target, const std::string& prefix, const char* operation) {
    const auto [format, fileType] = FormatForNewArchive(options);
    // A compressed single file has no way to be a link.
    const bool followLinks = options.dereference || format.keepsName;
    AddedFiles files(options.paths, prefix, followLinks ? SymbolicLinks::Followed : SymbolicLinks::Stored, console, LeaveOutArchive(target));
    if (files.Files().empty()) throw CommandError(ExitCode::Failed, options.archive, "nothing to add");
    if (format.keepsName && (files.Files().size() != 1 || files.Files().front().folder)) SingleFileOnly(options.archive, format.name);

    const auto archive = NewArchive();
    const auto destination = target.Stream();
    const auto source = zorvik::rt::make<archive_source>(zorvik::rt::to_wide(fileType), zorvik::rt::to_wide(std::filesystem::path(options.archive).filename().string()),
                                                          zorvik::rt::to_wide(target.RealPath()));
    com_ptr<IAsyncOperation<bool>> creation;
    check_hresult(archive->CreateAsync(destination.get(), source.get(), creation.put()));
    if (!Await(creation.get())) throw CommandError(ExitCode::Failed, options.archive, "cannot be written: " + format.name);
    CompressionChoice choice = options.compression;
    choice.passwordGiven = PasswordGiven(options);
    ApplyCompressionChoice(archive.get(), options.archive, choice, false);

    PasswordSource passwords(options.password, console);
    UpdateRun run(options.archive, console, ConflictPolicy::Refuse, WritePassword(passwords, choice.passwordGiven));
    const auto addables = files.Addables();
    const UpdateResult result = run.Run(Adding(archive.get(), addables, destination), files.ReadFailure());
    if (result == UpdateResult::Success) target.Commit(options.force);
    return Report(options, {operation, format.name, result, {{"added", files.Files().size()}}, target.WrittenSize()}, files.AnyLeftOut());
}

// An existing archive opened for writing, once target has locked it against other writers.
struct Rewrite {
    ArchiveReplacement& target;
    PasswordSource passwords;
    OpenedArchive archive;
    bool hasPassword = false;

    // A node of the tree found by its path, held.
    struct Found {
        com_ptr<IArchiveItem> item;
        std::string path;
        bool folder = false;
    };

    Rewrite(ArchiveReplacement& locked, const WriteOptions& options, Console& console)
        : target(Existing(locked, options.archive)), passwords(options.password, console), archive(options.archive, passwords) {
        check_hresult(archive.Archive()->get_HasPassword(&hasPassword));
        CheckWritable(options.archive);
    }

    static ArchiveReplacement& Existing(ArchiveReplacement& locked, const std::string& archiveName) {
        if (!locked.Exists()) throw CommandError(ExitCode::Failed, archiveName, DescribeErrno(ENOENT));
        return locked;
    }

    // A format that cannot write, several volumes, or an archive inside a compressed file (a
    // tar in a gzip), which the component will not write back without its compression.
    void CheckWritable(const std::string& archiveName) const {
        bool canUpdate = false;
        check_hresult(archive.Archive()->get_CanUpdate(&canUpdate));
        if (canUpdate) return;
        const std::string format = archive.FormatName().empty() ? "this format" : archive.FormatName();
        if (archive.MultiVolume()) throw CommandError(ExitCode::Failed, archiveName, "cannot be written: an archive of several volumes");
        const auto formats = Formats();
        const auto opened = std::find_if(formats.begin(), formats.end(), [&](const FormatInfo& f) { return f.name == archive.FormatName(); });
        if (opened == formats.end() || !opened->canUpdate) throw CommandError(ExitCode::Failed, archiveName, "cannot be written: " + format);
        const std::string fileType = FileTypeOf(archiveName);
        const auto outer = std::find_if(formats.begin(), formats.end(), [&](const FormatInfo& f) {
            return f.keepsName && !fileType.empty() && HasExtension(f, fileType);
        });
        throw CommandError(ExitCode::Failed, archiveName,
                           "cannot be written: a " + format + " inside " + (outer != formats.end() ? outer->name : "a compressed file"));
    }

    // addsData: new data goes beside the entries, which need a password if they are encrypted;
    // it is then looked for as for reading, the prompt included.
    UpdateRun Run(const WriteOptions& options, Console& console, ConflictPolicy policy, bool addsData = false) {
        CompressionChoice choice = options.compression;
        choice.passwordGiven = PasswordGiven(options) || hasPassword;
        ApplyCompressionChoice(archive.Archive(), options.archive, choice, hasPassword);
        const bool wanted = choice.passwordGiven || (addsData && AnyEncrypted());
        return UpdateRun(options.archive, console, policy, WritePassword(passwords, wanted));
    }

    bool AnyEncrypted() const {
        bool any = false;
        WalkEntries(archive.Root(), [&](const Entry& entry) {
            any = any || entry.encrypted;
            return !any;
        });
        return any;
    }

    // The nodes at a path as list shows it. An error for a path with "..". Only the folders on
    // the way are walked.
    std::vector<Found> At(const std::string& path) const {
        const auto stored = AddedFiles::StoredName(path);
        if (!stored) throw CommandError(ExitCode::Usage, path, "no such entry: a path of the archive has no \"..\"");
        std::vector<Found> found;
        WalkEntries(archive.Root(), [&](const Entry& entry) {
            if (entry.path == *stored) found.push_back({com_ptr<IArchiveItem>::copy_from(entry.item), entry.path, entry.folder});
            return entry.folder && IsBelow(*stored, entry.path);
        });
        return found;
    }

    // The entries of path and below it that stand for an entry of the archive; "" is the root.
    std::uint64_t EntriesBelow(const std::string& path) const {
        std::uint64_t count = 0;
        WalkEntries(archive.Root(), [&](const Entry& entry) {
            const bool inside = path.empty() || entry.path == path || IsBelow(entry.path, path);
            if (inside && !entry.implicit) ++count;
            return entry.folder && (inside || IsBelow(path, entry.path));
        });
        return count;
    }

    static bool IsBelow(const std::string& path, const std::string& folder) { return path.rfind(folder + "/", 0) == 0; }

    ExitCode Finish(const WriteOptions& options, const char* operation, UpdateResult result, std::vector<std::pair<const char*, std::uint64_t>> counts,
                    bool anyItemFailed) {
        if (result == UpdateResult::Success) target.Commit(true);
        return Report(options, {operation, archive.FormatName(), result, std::move(counts), target.WrittenSize()}, anyItemFailed);
    }
};

// The one node each path names; missing paths are reported, and then nothing is written.
std::vector<com_ptr<IArchiveItem>> Chosen(const Rewrite& rewrite, const WriteOptions& options, Console& console) {
    std::vector<com_ptr<IArchiveItem>> chosen;
    bool missing = false;
    for (const std::string& path : options.paths) {
        const auto found = rewrite.At(path);
        if (AddedFiles::StoredName(path)->empty()) {
            chosen.push_back(com_ptr<IArchiveFolder>::copy_from(rewrite.archive.Root()).as<IArchiveItem>());
            continue;
        }
        if (found.empty()) {
            console.Error(path, "no such entry in " + options.archive);
            missing = true;
        }
        for (const auto& entry : found) chosen.push_back(entry.item);
    }
    if (missing) throw CommandError(ExitCode::Failed, options.archive, "nothing written");
    return chosen;
}

}  // namespace

ExitCode RunCreate(const WriteOptions& options, Console& console) {
    FormatForNewArchive(options);  // a wrong name is a usage error before anything is touched
    ArchiveReplacement target(options.archive);
    if (target.Exists() && !options.force) throw CommandError(ExitCode::Failed, options.archive, "exists (give --force to replace it)");
    return WriteNew(options, console, target, "", "create");
}

ExitCode RunAdd(const WriteOptions& options, Console& console) {
    const auto prefix = AddedFiles::StoredName(options.to.value_or(""));
    if (!prefix) throw CommandError(ExitCode::Usage, *options.to, "a folder of the archive has no \"..\"");
    ArchiveReplacement target(options.archive);
    if (!target.Exists()) return WriteNew(options, console, target, *prefix, "add");
    Rewrite rewrite(target, options, console);
    bool keepsName = false;
    check_hresult(rewrite.archive.Archive()->get_KeepsName(&keepsName));
    if (keepsName) SingleFileOnly(options.archive, rewrite.archive.FormatName());
    const SymbolicLinks links = options.dereference ? SymbolicLinks::Followed : SymbolicLinks::Stored;
    AddedFiles files(options.paths, *prefix, links, console, LeaveOutArchive(target));
    if (files.Files().empty()) throw CommandError(ExitCode::Failed, options.archive, "nothing to add");

    UpdateRun run = rewrite.Run(options, console, PolicyFor(options.onConflict), true);
    const auto addables = files.Addables();
    const auto destination = target.Stream();
    const UpdateResult result = run.Run(Adding(rewrite.archive.Archive(), addables, destination), files.ReadFailure());
    return rewrite.Finish(options, "add", result,
                          {{"added", files.Files().size() - run.Skipped()}, {"replaced", run.Replaced()}, {"renamed", run.Renamed()}, {"skipped", run.Skipped()}},
                          files.AnyLeftOut() || run.AnyItemFailed());
}

ExitCode RunRemove(const WriteOptions& options, Console& console) {
    ArchiveReplacement target(options.archive);
    Rewrite rewrite(target, options, console);
    const auto chosen = Chosen(rewrite, options, console);
    std::set<std::string> removed;
    std::uint64_t count = 0;
    for (const std::string& path : options.paths)
        if (removed.insert(*AddedFiles::StoredName(path)).second) count += rewrite.EntriesBelow(*AddedFiles::StoredName(path));

    UpdateRun run = rewrite.Run(options, console, ConflictPolicy::Refuse);
    const auto destination = target.Stream();
    const UpdateResult result = run.Run([&](IUpdateCallback* callback) {
        auto items = Raw(chosen);
        com_ptr<IAsyncOperation<UpdateResult>> operation;
        check_hresult(rewrite.archive.Archive()->RemoveAsync(static_cast<std::uint32_t>(items.size()), items.data(), callback, destination.get(), operation.put()));
        return operation;
    });
    return rewrite.Finish(options, "remove", result, {{"removed", count}}, false);
}

ExitCode RunRename(const WriteOptions& options, Console& console) {
    const std::string& name = options.newName;
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        throw CommandError(ExitCode::Usage, name, "a new name is one name, without \"/\"");
    ArchiveReplacement target(options.archive);
    Rewrite rewrite(target, options, console);
    const std::string& path = options.paths.front();
    if (AddedFiles::StoredName(path).value_or("").empty()) throw CommandError(ExitCode::Usage, path, "the root of the archive has no name to change");
    const auto found = rewrite.At(path);
    if (found.empty()) throw CommandError(ExitCode::Failed, path, "no such entry in " + options.archive);
    if (found.size() > 1) throw CommandError(ExitCode::Failed, path, "several entries have this path; rename cannot tell them apart");

    UpdateRun run = rewrite.Run(options, console, ConflictPolicy::Refuse);
    const auto destination = target.Stream();
    const UpdateResult result = run.Run([&](IUpdateCallback* callback) {
        com_ptr<IAsyncOperation<UpdateResult>> operation;
        check_hresult(rewrite.archive.Archive()->RenameAsync(found.front().item.get(), zorvik::rt::hstring(zorvik::rt::to_wide(name)).get(), callback,
                                                             destination.get(), operation.put()));
        return operation;
    });
    return rewrite.Finish(options, "rename", result, {{"renamed", rewrite.EntriesBelow(found.front().path)}}, false);
}

ExitCode RunMove(const WriteOptions& options, Console& console) {
    const auto folderPath = AddedFiles::StoredName(options.to.value_or(""));
    if (!folderPath) throw CommandError(ExitCode::Usage, *options.to, "a folder of the archive has no \"..\"");
    ArchiveReplacement target(options.archive);
    Rewrite rewrite(target, options, console);
    com_ptr<IArchiveFolder> folder;  // null: the root
    if (!folderPath->empty()) {
        const auto found = rewrite.At(*folderPath);
        const auto isFolder = std::find_if(found.begin(), found.end(), [](const auto& entry) { return entry.folder; });
        if (isFolder == found.end()) throw CommandError(ExitCode::Failed, *options.to, "no such folder in " + options.archive);
        folder = isFolder->item.as<IArchiveFolder>();
    }

    std::set<std::string> names;
    std::uint64_t count = 0;
    for (const std::string& path : options.paths) {
        const std::string stored = AddedFiles::StoredName(path).value_or("");
        if (stored.empty()) throw CommandError(ExitCode::Usage, path, "the root of the archive cannot be moved");
        if (*folderPath == stored || folderPath->rfind(stored + "/", 0) == 0)
            throw CommandError(ExitCode::Usage, path, "a folder cannot be moved into itself");
        // Two entries moved to one name would both be written, as twins.
        const std::string name = std::filesystem::path(stored).filename().string();
        if (!names.insert(name).second) throw CommandError(ExitCode::Usage, path, "another entry moved along has this name");
        count += rewrite.EntriesBelow(stored);
    }
    const auto chosen = Chosen(rewrite, options, console);

    UpdateRun run = rewrite.Run(options, console, ConflictPolicy::Refuse);
    const auto destination = target.Stream();
    const UpdateResult result = run.Run([&](IUpdateCallback* callback) {
        auto items = Raw(chosen);
        com_ptr<IAsyncOperation<UpdateResult>> operation;
        check_hresult(rewrite.archive.Archive()->MoveAsync(static_cast<std::uint32_t>(items.size()), items.data(), folder.get(), callback,
                                                           destination.get(), operation.put()));
        return operation;
    });
    return rewrite.Finish(options, "move", result, {{"moved", count}}, false);
}

}  // namespace Zorvik::Cli
