#include "cli/OpenedArchive.h"

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

#include "cli/AsyncWait.h"
#include "cli/Component.h"
#include "cli/ExitCode.h"
#include "cli/Failure.h"
#include "cli/Interrupt.h"
#include "cli/TemporaryFile.h"
#include "zorvik/ArchiveSource.h"
#include "zorvik/Compression.h"
#include "zorvik/ExtractionCallback.h"
#include "zorvik/OpenedArchiveInfo.h"
#include "zorvik/runtime/com_ptr.h"
#include "zorvik/runtime/streams.h"
#include "zorvik/runtime/unique_fd.h"

namespace Zorvik::Cli {

using ABI::Windows::Storage::FileAccessMode;
using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;
using zorvik::rt::hstring;

namespace {

// What the component asked while opening, gathered by the source's hooks. The hooks run on
// the operation's thread, one at a time.
struct OpenLog {
    bool passwordGiven = false;
    bool passwordMissing = false;
    bool passwordRejected = false;
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

std::uint64_t SizeOf(const com_ptr<IRandomAccessStream>& stream) {
    std::uint64_t size = 0;
    check_hresult(stream->get_Size(&size));
    return size;
}

std::int32_t CancelOnInterrupt(std::uint64_t) { return Interrupt::Requested() ? ExtractionAnswer::Cancel : ExtractionAnswer::Continue; }

std::string AskFormatName(const com_ptr<IArchive>& archive, HRESULT (IOpenedArchiveInfo::*member)(HSTRING*)) {
    hstring name;
    check_hresult((archive.as<IOpenedArchiveInfo>().get()->*member)(name.put()));
    return zorvik::rt::to_utf8(name.view());
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
    archive_ = NewArchive();
    Open(passwords);

    const auto progress = make_extraction_callback({.set_total = CancelOnInterrupt, .set_completed = CancelOnInterrupt});
    com_ptr<IAsyncOperation<IArchiveFolder*>> building;
    check_hresult(archive_->GetRootFolderAsync(progress.as<IOperationProgress>().get(), building.put()));
    try {
        root_ = Await(building.get());
    } catch (const zorvik::rt::hresult_error& error) {
        if (Interrupt::Requested()) throw CommandError(ExitCode::Interrupted, name_, "interrupted");
        throw CommandError(ExitCode::Failed, name_, "cannot read the entries: " + Describe(error.code()));
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
    packedSize_ = SizeOf(stream);

    // The component names its file lock after the source's path: the real path, so that every
    // way of naming one file shares the lock.
    char real[PATH_MAX];
    const std::string canonicalPath = copied ? CopiedFileName(file.get()) : ::realpath(name_.c_str(), real) ? real : name_;

    // The hooks own what they use: the component may hold the source beyond this call. A copied
    // archive has no volumes beside it.
    auto log = std::make_shared<OpenLog>();
    auto volumeFolder = std::make_shared<zorvik::rt::unique_fd>(copied ? -1 : ::fcntl(folder.get(), F_DUPFD_CLOEXEC, 0));
    archive_source_hooks hooks;
    hooks.request_password = [log, &passwords] {
        if (Interrupt::Requested()) return password_answer::canceled();
        // Asked again in the same open, the component says the password given did not open
        // the archive: giving it again would be asked for again, without end.
        const auto password = log->passwordGiven ? passwords.Retry() : passwords.Get();
        if (Interrupt::Requested()) return password_answer::canceled();
        if (!password) {
            if (!log->passwordGiven) {
                log->passwordMissing = true;
                return password_answer::declined();
            }
            log->passwordRejected = true;
            return password_answer::canceled();
        }
        log->passwordGiven = true;
        return password_answer::given(*password);
    };
    hooks.get_volume = [log, volumeFolder](std::wstring_view volumeName) {
        if (Interrupt::Requested()) return volume_answer::canceled();
        if (!*volumeFolder) return volume_answer::unavailable();
        // Volumes are looked for beside the first one, by file name only.
        const std::string name = std::filesystem::path(zorvik::rt::to_utf8(volumeName)).filename().string();
        if (name.empty() || name == "." || name == "..") return volume_answer::unavailable();
        std::string ignored;
        const zorvik::rt::unique_fd volumeFile = OpenFileAt(volumeFolder->get(), name.c_str(), ignored);
        if (!volumeFile) {
            log->volumesNotFound.push_back(name);
            return volume_answer::unavailable();
        }
        auto volume = zorvik::rt::open_file_stream_on(volumeFile.get(), FileAccessMode::Read);
        log->volumeBytes += SizeOf(volume);
        log->volumeGiven = true;
        return volume_answer::given(std::move(volume));
    };

    const std::filesystem::path namePath(fileName);
    std::wstring fileType = zorvik::rt::to_wide(namePath.extension().string());
    if (!fileType.empty()) fileType.erase(0, 1);
    const auto source =
        zorvik::rt::make<archive_source>(fileType, zorvik::rt::to_wide(fileName), zorvik::rt::to_wide(canonicalPath), std::move(hooks));

    com_ptr<IAsyncOperation<bool>> opening;
    check_hresult(archive_->OpenAsync(stream.get(), source.get(), opening.put()));
    bool opened = false;
    const HRESULT failure = AwaitOutcome(opening.get(), opened);
    if (Interrupt::Requested()) throw CommandError(ExitCode::Interrupted, name_, "interrupted");
    if (log->passwordRejected) throw CommandError(ExitCode::Password, name_, "wrong password");
    if (FAILED(failure)) throw CommandError(ExitCode::Failed, name_, "cannot open: " + Describe(failure));
    const std::string damaged = AskFormatName(archive_, &IOpenedArchiveInfo::get_DamagedFormatName);
    if (!opened) {
        if (log->passwordMissing)
            throw CommandError(ExitCode::Password, name_, "password missing (give --password or set ZORVIK_PASSWORD)");
        if (!damaged.empty()) throw CommandError(ExitCode::NotAnArchive, name_, "damaged or truncated " + damaged + " archive");
        throw CommandError(ExitCode::NotAnArchive, name_, "not an archive: no format can open it");
    }
    packedSize_ += log->volumeBytes;
    multiVolume_ = log->volumeGiven;
    formatName_ = AskFormatName(archive_, &IOpenedArchiveInfo::get_FormatName);
    check_hresult(archive_.as<IOpenedArchiveInfo>()->get_HasDamagedHeaders(&damagedHeaders_));
    check_hresult(archive_.as<IOpenedArchiveInfo>()->get_IsCutShort(&cutShort_));

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
