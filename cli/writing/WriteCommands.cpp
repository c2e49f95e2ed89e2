#include "cli/writing/WriteCommands.h"

#include <fmt/format.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "cli/writing/AddedFiles.h"
#include "cli/writing/ArchiveReplacement.h"
#include "cli/reading/AsyncWait.h"
#include "cli/reading/Component.h"
#include "cli/reading/EntryList.h"
#include "cli/reading/EntryLookup.h"
#include "cli/terminal/Failure.h"
#include "cli/reading/OpenedArchive.h"
#include "cli/reading/PasswordSource.h"
#include "cli/terminal/ProgressBar.h"
#include "cli/reading/SequentialStream.h"
#include "cli/terminal/Text.h"
#include "cli/writing/VolumeSet.h"
#include "cli/writing/UpdateRun.h"
#include "zorvik/ArchiveSource.h"
#include "zorvik/VolumeUpdate.h"

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
    std::uint32_t volumes = 0;  // 0: one file
};

ExitCode Report(const WriteOptions& options, const Written& written, bool anyItemFailed, Console& console) {
    const bool wrote = written.result == UpdateResult::Success;
    if (options.json) {
        console.ReportBegun();
        Json report{{"archive", options.archive},
                    {"operation", written.operation},
                    {"format", written.format},
                    {"result", wrote ? "written" : "nothingToUpdate"}};
        for (const auto& [name, count] : written.counts) report[name] = count;
        report["archiveSize"] = wrote ? Json(written.archiveSize) : Json(nullptr);
        if (written.volumes != 0) report["volumes"] = wrote ? Json(written.volumes) : Json(nullptr);
        fmt::print("{}\n", report.dump(2, ' ', false, Json::error_handler_t::replace));
    } else if (!options.quiet) {
        // Standard output may be the archive itself.
        std::FILE* const out = options.archive == "-" ? stderr : stdout;
        std::string counts;
        for (const auto& [name, count] : written.counts)
            if (count != 0 || counts.empty()) counts += fmt::format("{}{} {}", counts.empty() ? "" : ", ", count, name);
        const std::string volumes =
            written.volumes == 0 ? "" : fmt::format(" in {} volume{}", written.volumes, written.volumes == 1 ? "" : "s");
        if (wrote)
            fmt::print(out, "{}: {}; {} written{}\n", Printable(options.archive), counts, ReadableSize(written.archiveSize), volumes);
        else
            fmt::print(out, "{}: nothing to update\n", Printable(options.archive));
    }
    return anyItemFailed ? ExitCode::Failed : ExitCode::Success;
}

bool PasswordGiven(const WriteOptions& options) {
    const char* environment = std::getenv("ZORVIK_PASSWORD");
    return options.password || (environment && *environment);
}

// A password for new data that the format cannot encrypt would leave the data in the clear
// without anyone noticing: one given on the command line is refused, the environment's is only
// said to be unused (it may be set for every command).
void CheckPasswordUsable(IArchive* archive, const WriteOptions& options, const std::string& formatName, Console& console) {
    if (!PasswordGiven(options) || FormatEncrypts(archive)) return;
    if (options.password)
        throw CommandError(ExitCode::Usage, options.archive, formatName + " cannot encrypt: --password would leave the data in the clear");
    console.Error(options.archive, "ZORVIK_PASSWORD is not used: " + formatName + " cannot encrypt");
}

// Writing asks for no password it was not given: one from --password or $ZORVIK_PASSWORD, or
// the one the archive was opened with (which the source has already).
std::function<password_answer()> WritePassword(PasswordSource& passwords, bool available) {
    return [&passwords, available] {
        const auto password = available ? passwords.Get() : std::nullopt;
        return password ? password_answer::given(zorvik::rt::to_wide(*password)) : password_answer::declined();
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

// The format a new archive is written in, and the file type that makes the component choose it.
std::pair<FormatInfo, std::string> FormatForNewArchive(const WriteOptions& options) {
    const auto formats = Formats();
    std::string fileType = FileTypeOf(options.archive);
    auto format = formats.end();
    if (!options.format.empty()) {
        format = std::find_if(formats.begin(), formats.end(),
                              [&](const FormatInfo& f) { return ::strcasecmp(f.name.c_str(), options.format.c_str()) == 0; });
        if (format == formats.end())
            throw CommandError(ExitCode::Usage, options.archive, "no format is named " + options.format + " (see zorvik formats)");
        fileType = format->extension;
    } else if (!fileType.empty()) {
        format = std::find_if(formats.begin(), formats.end(), [&](const FormatInfo& f) { return f.has_extension(fileType); });
    }
    if (format == formats.end()) throw CommandError(ExitCode::Usage, options.archive, "its name tells no format: give --format");
    // The component takes the first format that carries the file type.
    const auto chosen = std::find_if(formats.begin(), formats.end(), [&](const FormatInfo& f) { return f.has_extension(fileType); });
    if (!format->can_update || chosen != format)
        throw CommandError(ExitCode::Failed, options.archive, "cannot be written: " + format->name);
    return {*format, fileType};
}

[[noreturn]] void SingleFileOnly(const std::string& archiveName, const std::string& format) {
    throw CommandError(ExitCode::Usage, archiveName, format + " holds exactly one file (to pack more, make a tar of them first)");
}

UpdateRun::Start Adding(IArchive* archive, const std::vector<zorvik::Addable>& addables, const com_ptr<IRandomAccessStream>& destination) {
    return [=](IUpdateCallback* callback) {
        std::vector<IArchiveAddable*> raw;
        for (const auto& addable : addables) raw.push_back(addable.abi());
        com_ptr<IAsyncOperation<UpdateResult>> operation;
        check_hresult(archive->AddAsync(static_cast<std::uint32_t>(raw.size()), raw.data(), callback, destination.get(), operation.put()));
        return operation;
    };
}

// Where a command's new archive goes: over the archive's file, or, with --volume-size, into a set
// of volumes named after it.
class Output {
public:
    Output(ArchiveReplacement& file, const WriteOptions& options)
        : file_(file), archive_(options.archive), volumeSize_(options.volumeSize) {
        if (volumeSize_ != 0) volumes_.emplace(options.archive);
    }

    // The archive's file, or the set's first volume.
    bool Exists() const { return volumes_ ? volumes_->Exists() : file_.Exists(); }
    bool VolumesExist() const { return volumes_ && volumes_->Exists(); }
    const std::string& LockPath() const { return volumes_ ? volumes_->FirstVolumePath() : file_.RealPath(); }
    com_ptr<IRandomAccessStream> Stream() const { return (volumes_ ? volumes_->Stream() : file_.Stream()).com(); }
    std::function<bool(const struct stat&)> LeaveOut() const {
        return [this](const struct stat& file) { return file_.IsArchiveOrTemporary(file) || (volumes_ && volumes_->IsVolume(file)); };
    }

    // The operation adding the addables; with volumes, run takes each further one from the set.
    UpdateRun::Start Adding(IArchive* archive, const std::vector<zorvik::Addable>& addables, UpdateRun& run) {
        if (volumes_)
            run.TakeVolumesFrom([this](std::uint32_t number) { return volumes_->Add(number).com(); },
                                [this](std::uint32_t count) { volumes_->SetCount(count); });
        return [this, archive, addables, destination = Stream()](IUpdateCallback* callback) {
            std::vector<IArchiveAddable*> raw;
            for (const auto& addable : addables) raw.push_back(addable.abi());
            const auto count = static_cast<std::uint32_t>(raw.size());
            com_ptr<IAsyncOperation<UpdateResult>> operation;
            if (volumes_)
                check_hresult(com_ptr<IArchive>::copy_from(archive).as<IVolumeUpdate>()->UpdateInVolumesAsync(
                    0, nullptr, count, raw.data(), callback, volumeSize_, destination.get(), operation.put()));
            else
                check_hresult(archive->AddAsync(count, raw.data(), callback, destination.get(), operation.put()));
            return operation;
        };
    }

    // A new archive takes its name (or names).
    void Commit(bool replaceExisting) {
        if (volumes_)
            volumes_->Commit(replaceExisting);
        else
            file_.Commit(replaceExisting);
    }
    // The archive written anew replaces the one it was made from. A set of volumes takes the
    // place of the archive's one file (or of the link to it), which goes once the set has its names.
    void Replace() {
        if (!volumes_) {
            file_.Commit(true);
            return;
        }
        volumes_->Commit(false);
        struct stat info {};
        if (::lstat(archive_.c_str(), &info) == 0 && (S_ISLNK(info.st_mode) || file_.IsArchiveOrTemporary(info)))
            ::unlink(archive_.c_str());
    }

    std::uint64_t WrittenSize() const { return volumes_ ? volumes_->WrittenSize() : file_.WrittenSize(); }
    std::uint32_t Volumes() const { return volumes_ ? volumes_->Count() : 0; }

private:
    ArchiveReplacement& file_;
    const std::string archive_;
    const std::uint64_t volumeSize_;
    std::optional<VolumeSet> volumes_;
};

// Where a new archive goes: a file (or a set of volumes), replaced whole or not at all, or
// standard output.
struct NewArchiveDestination {
    com_ptr<IRandomAccessStream> stream;
    std::string lockPath;  // what the component names its lock after
    std::function<bool(const struct stat&)> leaveOut;
    std::function<UpdateRun::Start(IArchive* archive, const std::vector<zorvik::Addable>& addables, UpdateRun& run)> adding;
    std::function<void()> commit;
    std::function<std::uint64_t()> writtenSize;
    std::function<std::uint32_t()> volumes;
    std::string unwritable;  // why a format the engine cannot write into it is refused, if it can be
};

NewArchiveDestination FileDestination(Output& target, bool replaceExisting) {
    return {target.Stream(),
            target.LockPath(),
            target.LeaveOut(),
            [&target](IArchive* archive, const std::vector<zorvik::Addable>& addables, UpdateRun& run) {
                return target.Adding(archive, addables, run);
            },
            [&target, replaceExisting] { target.Commit(replaceExisting); },
            [&target] { return target.WrittenSize(); },
            [&target] { return target.Volumes(); }};
}

// The bytes go out as the engine writes them, so the format must be one that is written without
// going back (the component says which: E_NOTIMPL), and nothing else may go to standard output.
NewArchiveDestination StandardOutputDestination(const WriteOptions& options) {
    if (options.json) throw CommandError(ExitCode::Usage, options.archive, "--json would go to standard output, where the archive goes");
    if (::isatty(STDOUT_FILENO))
        throw CommandError(ExitCode::Usage, options.archive, "standard output is a terminal: redirect it to a file or a pipe");
    auto stream = zorvik::rt::make<SequentialStream>(SequentialStream::WriteTo(STDOUT_FILENO));
    // A lock named after the pipe or file standard output is: unique while it is open.
    char target[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/fd/1", target, sizeof target);
    std::string lockPath = length > 0 ? std::string(target, static_cast<std::size_t>(length)) : "stdout-" + std::to_string(::getpid());
    com_ptr<IRandomAccessStream> random = stream.as<IRandomAccessStream>();
    return {
        random,
        std::move(lockPath),
        [](const struct stat&) { return false; },
        [random](IArchive* archive, const std::vector<zorvik::Addable>& addables, UpdateRun&) { return Adding(archive, addables, random); },
        [] {},
        [random] {
            std::uint64_t size = 0;
            check_hresult(random->get_Size(&size));
            return size;
        },
        [] { return std::uint32_t{0}; },
        "cannot be written to standard output: the format's writer goes back into what it wrote (write it to a file)"};
}

// A new archive of the named format (or the one its name tells) holding the paths.
ExitCode WriteNew(const WriteOptions& options, Console& console, const NewArchiveDestination& target, const std::string& prefix,
                  const char* operation) {
    const auto [format, fileType] = FormatForNewArchive(options);
    // A compressed single file has no way to be a link.
    const bool followLinks = options.dereference || format.keeps_name;
    AddedFiles files(options.paths, prefix, followLinks ? SymbolicLinks::Followed : SymbolicLinks::Stored, console, target.leaveOut);
    if (files.Count() == 0) throw CommandError(ExitCode::Failed, options.archive, "nothing to add");
    if (format.keeps_name && !files.OneFile()) SingleFileOnly(options.archive, format.name);

    const auto archive = NewArchive();
    const auto source = zorvik::rt::make<archive_source>(zorvik::rt::to_wide(fileType),
                                                         zorvik::rt::to_wide(std::filesystem::path(options.archive).filename().string()),
                                                         zorvik::rt::to_wide(target.lockPath));
    com_ptr<IAsyncOperation<bool>> creation;
    check_hresult(archive->CreateAsync(target.stream.get(), source.get(), creation.put()));
    if (!Await(creation.get())) throw CommandError(ExitCode::Failed, options.archive, "cannot be written: " + format.name);
    CompressionChoice choice = options.compression;
    choice.passwordGiven = PasswordGiven(options);
    ApplyCompressionChoice(archive.get(), options.archive, choice, false);
    CheckPasswordUsable(archive.get(), options, format.name, console);

    PasswordSource passwords(options.password, console);
    UpdateRun run(options.archive, console, ConflictPolicy::Refuse, WritePassword(passwords, choice.passwordGiven), false);
    if (!target.unwritable.empty()) run.RefuseUnsupported(target.unwritable);
    const auto& addables = files.Addables();
    const UpdateResult result = run.Run(target.adding(archive.get(), addables, run), files.ReadFailure());
    if (result == UpdateResult::Success) target.commit();
    return Report(options, {operation, format.name, result, {{"added", files.Count()}}, target.writtenSize(), target.volumes()},
                  files.AnyLeftOut(), console);
}

// An existing archive opened for writing, once target has locked it against other writers.
struct Rewrite {
    ArchiveReplacement& target;
    PasswordSource passwords;
    OpenedArchive archive;
    bool hasPassword = false;

    Rewrite(ArchiveReplacement& locked, const WriteOptions& options, Console& console)
        : target(Existing(locked, options.archive)), passwords(options.password, console), archive(options.archive, passwords) {
        hasPassword = archive.Archive().has_password();
        CheckWritable(options.archive);
    }

    static ArchiveReplacement& Existing(ArchiveReplacement& locked, const std::string& archiveName) {
        if (!locked.Exists()) throw CommandError(ExitCode::Failed, archiveName, DescribeErrno(ENOENT));
        return locked;
    }

    // A format that cannot write, several volumes, or an archive inside a compressed file (a
    // tar in a gzip), which the component will not write back without its compression.
    void CheckWritable(const std::string& archiveName) const {
        if (archive.Archive().can_update()) return;
        const std::string format = archive.FormatName().empty() ? "this format" : archive.FormatName();
        if (archive.MultiVolume()) throw CommandError(ExitCode::Failed, archiveName, "cannot be written: an archive of several volumes");
        const auto formats = Formats();
        const auto opened =
            std::find_if(formats.begin(), formats.end(), [&](const FormatInfo& f) { return f.name == archive.FormatName(); });
        if (opened == formats.end() || !opened->can_update)
            throw CommandError(ExitCode::Failed, archiveName, "cannot be written: " + format);
        const std::string fileType = FileTypeOf(archiveName);
        const auto outer = std::find_if(formats.begin(), formats.end(), [&](const FormatInfo& f) {
            return f.keeps_name && !fileType.empty() && f.has_extension(fileType);
        });
        throw CommandError(ExitCode::Failed, archiveName,
                           "cannot be written: a " + format + " inside " + (outer != formats.end() ? outer->name : "a compressed file"));
    }

    // addsData: new data goes beside the entries, which need a password if they are encrypted;
    // it is then looked for as for reading, the prompt included.
    UpdateRun Run(const WriteOptions& options, Console& console, ConflictPolicy policy, bool addsData = false) {
        CompressionChoice choice = options.compression;
        choice.passwordGiven = PasswordGiven(options) || hasPassword;
        ApplyCompressionChoice(archive.Archive().abi(), options.archive, choice, hasPassword);
        const bool wanted = choice.passwordGiven || (addsData && AnyEncrypted());
        return UpdateRun(options.archive, console, policy, WritePassword(passwords, wanted), true);
    }

    bool AnyEncrypted() const {
        bool any = false;
        WalkEntries(archive.Root(), [&](const Entry& entry) {
            any = any || entry.encrypted;
            return !any;
        });
        return any;
    }

    std::vector<FoundEntry> At(const std::string& path) const { return EntriesAt(archive.Root(), path); }

    ExitCode Finish(const WriteOptions& options, const char* operation, UpdateResult result,
                    std::vector<std::pair<const char*, std::uint64_t>> counts, bool anyItemFailed, Console& console) {
        if (result == UpdateResult::Success) target.Commit(true);
        return Report(options, {operation, archive.FormatName(), result, std::move(counts), target.WrittenSize()}, anyItemFailed, console);
    }
};

// The nodes each path names; missing paths are reported, and then nothing is written.
std::vector<FoundEntry> Chosen(const Rewrite& rewrite, const WriteOptions& options, Console& console) {
    std::vector<FoundEntry> chosen;
    bool missing = false;
    for (const std::string& path : options.paths) {
        auto found = rewrite.At(path);
        if (found.empty()) {
            console.Error(path.empty() ? "\"\"" : path, "no such entry in " + options.archive);
            missing = true;
        }
        std::move(found.begin(), found.end(), std::back_inserter(chosen));
    }
    if (missing) throw CommandError(ExitCode::Failed, options.archive, "nothing written");
    return chosen;
}

std::vector<IArchiveItem*> Raw(const std::vector<FoundEntry>& entries) {
    std::vector<IArchiveItem*> raw;
    for (const auto& entry : entries) raw.push_back(entry.item.abi());
    return raw;
}

}  // namespace

ExitCode RunCreate(const WriteOptions& options, Console& console) {
    FormatForNewArchive(options);  // a wrong name is a usage error before anything is touched
    if (options.archive == "-") {
        if (options.volumeSize != 0)
            throw CommandError(ExitCode::Usage, options.archive, "--volume-size writes files: standard output is one stream");
        return WriteNew(options, console, StandardOutputDestination(options), "", "create");
    }
    ArchiveReplacement file(options.archive);
    Output target(file, options);
    if (target.Exists() && !options.force)
        throw CommandError(ExitCode::Failed, options.volumeSize != 0 ? VolumeSet::VolumeName(options.archive, 1) : options.archive,
                           "exists (give --force to replace it)");
    return WriteNew(options, console, FileDestination(target, options.force), "", "create");
}

ExitCode RunAdd(const WriteOptions& options, Console& console) {
    const auto prefix = zorvik::files::stored_name(options.to.value_or(""));
    if (!prefix) throw CommandError(ExitCode::Usage, *options.to, "a folder of the archive has no \"..\"");
    ArchiveReplacement file(options.archive);
    Output target(file, options);
    if (!file.Exists()) {
        // A set of volumes is read whole, never written anew in part.
        if (target.VolumesExist())
            throw CommandError(ExitCode::Failed, VolumeSet::VolumeName(options.archive, 1),
                               "exists: an archive in volumes is not written anew");
        return WriteNew(options, console, FileDestination(target, false), *prefix, "add");
    }
    Rewrite rewrite(file, options, console);
    if (rewrite.archive.Archive().keeps_name()) SingleFileOnly(options.archive, rewrite.archive.FormatName());
    if (target.VolumesExist()) throw CommandError(ExitCode::Failed, VolumeSet::VolumeName(options.archive, 1), "exists (remove it first)");
    const SymbolicLinks links = options.dereference ? SymbolicLinks::Followed : SymbolicLinks::Stored;
    AddedFiles files(options.paths, *prefix, links, console, target.LeaveOut());
    if (files.Count() == 0) throw CommandError(ExitCode::Failed, options.archive, "nothing to add");

    CheckPasswordUsable(rewrite.archive.Archive().abi(), options, rewrite.archive.FormatName(), console);
    UpdateRun run = rewrite.Run(options, console, PolicyFor(options.onConflict), true);
    const auto& addables = files.Addables();
    const UpdateResult result = run.Run(target.Adding(rewrite.archive.Archive().abi(), addables, run), files.ReadFailure());
    if (result == UpdateResult::Success) target.Replace();
    const std::vector<std::pair<const char*, std::uint64_t>> counts{
        {"added", files.Count() - run.Skipped()}, {"replaced", run.Replaced()}, {"renamed", run.Renamed()}, {"skipped", run.Skipped()}};
    return Report(options, {"add", rewrite.archive.FormatName(), result, counts, target.WrittenSize(), target.Volumes()},
                  files.AnyLeftOut() || run.AnyItemFailed(), console);
}

ExitCode RunRemove(const WriteOptions& options, Console& console) {
    ArchiveReplacement target(options.archive);
    Rewrite rewrite(target, options, console);
    const auto chosen = Chosen(rewrite, options, console);
    std::set<std::string> removed;
    std::uint64_t count = 0;
    for (const FoundEntry& entry : chosen)
        if (removed.insert(entry.path).second) count += EntriesBelow(rewrite.archive.Root(), entry.path);

    UpdateRun run = rewrite.Run(options, console, ConflictPolicy::Refuse);
    const auto destination = target.Stream().com();
    const UpdateResult result = run.Run([&](IUpdateCallback* callback) {
        auto items = Raw(chosen);
        com_ptr<IAsyncOperation<UpdateResult>> operation;
        check_hresult(rewrite.archive.Archive().abi()->RemoveAsync(static_cast<std::uint32_t>(items.size()), items.data(), callback,
                                                                   destination.get(), operation.put()));
        return operation;
    });
    return rewrite.Finish(options, "remove", result, {{"removed", count}}, false, console);
}

ExitCode RunRename(const WriteOptions& options, Console& console) {
    const std::string& name = options.newName;
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        throw CommandError(ExitCode::Usage, name, "a new name is one name, without \"/\"");
    ArchiveReplacement target(options.archive);
    Rewrite rewrite(target, options, console);
    const std::string& path = options.paths.front();
    const auto found = rewrite.At(path);
    if (found.empty() && NormalizedPath(path).empty())
        throw CommandError(ExitCode::Usage, path, "the root of the archive has no name to change");
    if (found.empty()) throw CommandError(ExitCode::Failed, path, "no such entry in " + options.archive);
    if (found.size() > 1) throw CommandError(ExitCode::Failed, path, "several entries have this path; rename cannot tell them apart");

    UpdateRun run = rewrite.Run(options, console, ConflictPolicy::Refuse);
    const auto destination = target.Stream().com();
    const UpdateResult result = run.Run([&](IUpdateCallback* callback) {
        com_ptr<IAsyncOperation<UpdateResult>> operation;
        check_hresult(rewrite.archive.Archive().abi()->RenameAsync(
            found.front().item.abi(), zorvik::rt::hstring(zorvik::rt::to_wide(name)).get(), callback, destination.get(), operation.put()));
        return operation;
    });
    return rewrite.Finish(options, "rename", result, {{"renamed", EntriesBelow(rewrite.archive.Root(), found.front().path)}}, false,
                          console);
}

ExitCode RunMove(const WriteOptions& options, Console& console) {
    const std::string to = options.to.value_or("");
    ArchiveReplacement target(options.archive);
    Rewrite rewrite(target, options, console);
    com_ptr<IArchiveFolder> folder;  // null: the root
    std::string folderPath;
    if (!NormalizedPath(to).empty()) {
        const auto found = rewrite.At(to);
        const auto isFolder = std::find_if(found.begin(), found.end(), [](const auto& entry) { return entry.folder; });
        if (isFolder == found.end()) throw CommandError(ExitCode::Failed, to, "no such folder in " + options.archive);
        folder = isFolder->item.as<IArchiveFolder>();
        folderPath = isFolder->path;
    }

    for (const std::string& path : options.paths)
        if (rewrite.At(path).empty() && NormalizedPath(path).empty())
            throw CommandError(ExitCode::Usage, path, "the root of the archive cannot be moved");
    const auto chosen = Chosen(rewrite, options, console);
    std::set<std::string> names;
    std::uint64_t count = 0;
    for (const FoundEntry& entry : chosen) {
        if (folderPath == entry.path || IsBelow(folderPath, entry.path))
            throw CommandError(ExitCode::Usage, entry.path, "a folder cannot be moved into itself");
        // Two entries moved to one name would both be written, as twins.
        const std::string name = entry.path.substr(entry.path.rfind('/') + 1);
        if (!names.insert(name).second) throw CommandError(ExitCode::Usage, entry.path, "another entry moved along has this name");
        count += EntriesBelow(rewrite.archive.Root(), entry.path);
    }

    UpdateRun run = rewrite.Run(options, console, ConflictPolicy::Refuse);
    const auto destination = target.Stream().com();
    const UpdateResult result = run.Run([&](IUpdateCallback* callback) {
        auto items = Raw(chosen);
        com_ptr<IAsyncOperation<UpdateResult>> operation;
        check_hresult(rewrite.archive.Archive().abi()->MoveAsync(static_cast<std::uint32_t>(items.size()), items.data(), folder.get(),
                                                                 callback, destination.get(), operation.put()));
        return operation;
    });
    return rewrite.Finish(options, "move", result, {{"moved", count}}, false, console);
}

}  // namespace Zorvik::Cli
