#include "cli/reading/OpenedArchive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "cli/reading/AsyncWait.h"
#include "cli/terminal/ExitCode.h"
#include "cli/terminal/Failure.h"
#include "cli/terminal/Interrupt.h"
#include "cli/reading/TemporaryFile.h"
#include "zorvik/runtime/streams.h"
#include "zorvik/runtime/unique_fd.h"

namespace Zorvik::Cli {

using ABI::Windows::Storage::FileAccessMode;

namespace {

// What the component asked while opening, gathered by the source's hooks. The hooks run on
// the operation's thread, one at a time.
struct OpenLog {
    bool passwordGiven = false;
    std::uint64_t volumeBytes = 0;
    bool volumeGiven = false;
    std::vector<std::string> volumesNotFound;
};

// A file opened for reading without blocking on a FIFO, or the reason it cannot be. Only a
// regular file is taken, unless special is given: then any file but a folder, and special tells
// whether it is a pipe, a device or the like.
zorvik::rt::unique_fd OpenFileAt(int folder, const char* name, std::string& reason, bool* special = nullptr) {
    zorvik::rt::unique_fd file(::openat(folder, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file) {
        reason = DescribeErrno(errno);
        return file;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        reason = DescribeErrno(errno);
        return {};
    }
    if (S_ISDIR(info.st_mode) || (!S_ISREG(info.st_mode) && !special)) {
        reason = S_ISDIR(info.st_mode) ? "is a folder" : "not a regular file";
        return {};
    }
    if (special) *special = !S_ISREG(info.st_mode);
    return file;
}

// The archive file; standard input ("-"), a pipe or a device is read into a temporary file
// first, since the component needs to seek. copied tells which.
zorvik::rt::unique_fd OpenArchiveFile(const std::string& path, int folder, const std::string& fileName, bool& copied) {
    if (path == "-") {
        if (::isatty(STDIN_FILENO)) throw CommandError(ExitCode::Usage, path, "standard input is a terminal: pipe an archive into it");
        copied = true;
        return CopyToTemporaryFile(STDIN_FILENO, path);
    }
    std::string reason;
    zorvik::rt::unique_fd file = OpenFileAt(folder, fileName.c_str(), reason, &copied);
    if (!file) throw CommandError(ExitCode::Failed, path, reason);
    return copied ? CopyToTemporaryFile(file.get(), path) : std::move(file);
}

// A name for the file lock of a copied archive: its temporary file's, unique while it is open.
std::string CopiedFileName(int file) {
    char target[PATH_MAX];
    const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(file)).c_str(), target, sizeof target);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : "stdin-" + std::to_string(::getpid());
}

// The name of the volume after this one: its last number one higher, as wide as before
// ("v.7z.002" gives "v.7z.003", "a.part9.rar" gives "a.part10.rar").
std::string NextVolumeName(std::string name) {
    const auto last = name.find_last_of("0123456789");
    if (last == std::string::npos) return {};
    auto digit = static_cast<std::ptrdiff_t>(last);
    for (; digit >= 0 && name[static_cast<std::size_t>(digit)] == '9'; --digit) name[static_cast<std::size_t>(digit)] = '0';
    if (digit >= 0 && std::isdigit(static_cast<unsigned char>(name[static_cast<std::size_t>(digit)])))
        ++name[static_cast<std::size_t>(digit)];
    else
        name.insert(static_cast<std::size_t>(digit + 1), "1");
    return name;
}

// A volume of a split set (name.001, name.002, ...). Such sets are asked for volume after volume
// until one is not found, which is missing only when a later one is there; other formats ask
// only for the volumes they know to follow.
bool IsSplitVolumeName(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot != std::string::npos && dot + 1 < name.size() &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(dot) + 1, name.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

bool FileExists(int folder, const std::string& name) {
    struct stat info {};
    return !name.empty() && ::fstatat(folder, name.c_str(), &info, 0) == 0;
}

}  // namespace

OpenedArchive::OpenedArchive(const std::string& path, PasswordSource& passwords) : name_(path) {
    Open(passwords);
    try {
        root_ = Await(archive_.root_async([](std::uint64_t, std::uint64_t) {
            return Interrupt::Requested() ? zorvik::ProgressAnswer::Cancel : zorvik::ProgressAnswer::Continue;
        }));
    } catch (const zorvik::Error& error) {
        if (Interrupt::Requested()) throw CommandError(ExitCode::Interrupted, name_, "interrupted");
        throw CommandError(ExitCode::Failed, name_, "cannot read the entries: " + Describe(error.hresult()));
    }
}

void OpenedArchive::Open(PasswordSource& passwords) {
    const std::filesystem::path given(name_);
    const std::string folderPath = given.has_parent_path() ? given.parent_path().string() : ".";
    // Standard input has no name; entries named after the archive are named after it.
    const std::string fileName = name_ == "-" ? "stdin" : given.filename().string();

    const zorvik::rt::unique_fd folder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) throw CommandError(ExitCode::Failed, name_, DescribeErrno(errno));
    bool copied = false;
    const zorvik::rt::unique_fd file = OpenArchiveFile(name_, folder.get(), fileName, copied);
    const auto stream = zorvik::rt::open_file_stream_on(file.get(), FileAccessMode::Read);
    packedSize_ = zorvik::Stream(stream).size();

    // The component names its file lock after the source's path: the real path, so that every
    // way of naming one file shares the lock.
    char real[PATH_MAX];
    const std::string canonicalPath = copied ? CopiedFileName(file.get()) : ::realpath(name_.c_str(), real) ? real : name_;

    // The hooks own what they use: the component may hold the source beyond this call. A copied
    // archive has no volumes beside it.
    auto log = std::make_shared<OpenLog>();
    auto volumeFolder = std::make_shared<zorvik::rt::unique_fd>(copied ? -1 : ::fcntl(folder.get(), F_DUPFD_CLOEXEC, 0));
    zorvik::OpenHooks hooks;
    // Asked again in the same open, the component says the password given did not open the
    // archive: giving it again would be asked for again, without end.
    hooks.password = [&passwords, log](int) -> std::optional<std::string> {
        if (Interrupt::Requested()) return std::nullopt;
        auto password = log->passwordGiven ? passwords.Retry() : passwords.Get();
        if (Interrupt::Requested()) return std::nullopt;
        log->passwordGiven = log->passwordGiven || password.has_value();
        return password;
    };
    hooks.volume = [log, volumeFolder](const std::string& volumeName) -> std::optional<zorvik::Stream> {
        if (Interrupt::Requested() || !*volumeFolder) return std::nullopt;
        // Volumes are looked for beside the first one, by file name only.
        const std::string name = std::filesystem::path(volumeName).filename().string();
        if (name.empty() || name == "." || name == "..") return std::nullopt;
        std::string ignored;
        const zorvik::rt::unique_fd volumeFile = OpenFileAt(volumeFolder->get(), name.c_str(), ignored);
        if (!volumeFile) {
            log->volumesNotFound.push_back(name);
            return std::nullopt;
        }
        zorvik::Stream volume(zorvik::rt::open_file_stream_on(volumeFile.get(), FileAccessMode::Read));
        log->volumeBytes += volume.size();
        log->volumeGiven = true;
        return volume;
    };

    std::string fileType = std::filesystem::path(fileName).extension().string();
    if (!fileType.empty()) fileType.erase(0, 1);
    std::string damaged;
    try {
        archive_ = Await(zorvik::Archive::open_async(zorvik::Stream(stream),
                                                     {.name = fileName, .path = canonicalPath, .file_type = fileType}, std::move(hooks)));
    } catch (const zorvik::Error& error) {
        if (Interrupt::Requested()) throw CommandError(ExitCode::Interrupted, name_, "interrupted");
        if (error.member() == "Archive")
            throw CommandError(ExitCode::Failed, "component", "cannot start the archive engine: " + Describe(error.hresult()));
        switch (error.code()) {
        case zorvik::ErrorCode::WrongPassword:
            // Asked again after none was given (RAR headers ask twice), the open ends as though
            // one had been wrong: still none was given.
            if (log->passwordGiven) throw CommandError(ExitCode::Password, name_, "wrong password");
            [[fallthrough]];
        case zorvik::ErrorCode::PasswordRequired:
            throw CommandError(ExitCode::Password, name_, "password missing (give --password or set ZORVIK_PASSWORD)");
        case zorvik::ErrorCode::Damaged:
        case zorvik::ErrorCode::NotAnArchive:
            if (error.hresult() == E_FAIL) throw CommandError(ExitCode::NotAnArchive, name_, error.reason());
            [[fallthrough]];
        default: throw CommandError(ExitCode::Failed, name_, "cannot open: " + Describe(error.hresult()));
        }
    }
    if (Interrupt::Requested()) throw CommandError(ExitCode::Interrupted, name_, "interrupted");
    packedSize_ += log->volumeBytes;
    multiVolume_ = log->volumeGiven;
    formatName_ = archive_.format();
    damagedHeaders_ = archive_.has_damaged_headers();
    cutShort_ = archive_.is_cut_short();
    damaged = archive_.damaged_format();

    // The first one only: a handler may ask for the same volume under another naming scheme.
    const auto missing = std::find_if(log->volumesNotFound.begin(), log->volumesNotFound.end(), [&](const std::string& volume) {
        return !IsSplitVolumeName(volume) || FileExists(volumeFolder->get(), NextVolumeName(volume));
    });
    if (missing != log->volumesNotFound.end()) missingVolume_ = *missing;
    if (formatName_ == "Split" && !damaged.empty()) {
        // The joined volumes hold an archive cut short: its volumes are not all here.
        const std::string reason = "damaged or truncated " + damaged + " archive in the volumes";
        if (!missingVolume_.empty()) throw CommandError(ExitCode::Failed, name_, reason + " (volume " + missingVolume_ + " is missing)");
        const std::string last = log->volumesNotFound.empty() ? std::string() : log->volumesNotFound.back();
        throw CommandError(ExitCode::Failed, name_, last.empty() ? reason : reason + " (is volume " + last + " missing?)");
    }
}

}  // namespace Zorvik::Cli
