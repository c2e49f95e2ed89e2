#include "cli/ArchiveReplacement.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "cli/ExitCode.h"
#include "cli/Failure.h"
#include "cli/Interrupt.h"
#include "zorvik/runtime/streams.h"

namespace Zorvik::Cli {

namespace {

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

mode_t ModeForNewFiles() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Renames without replacing what is there; false when something is.
bool RenameNoReplace(int folder, const char* from, const char* to) {
    if (::renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) return false;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the flag: a second link fails just as well when the name is taken.
    if (::linkat(folder, from, folder, to, 0) != 0) return false;
    ::unlinkat(folder, from, 0);
    return true;
}

}  // namespace

ArchiveReplacement::ArchiveReplacement(const std::string& path) : name_(path) {
    const std::filesystem::path given(path);
    char real[PATH_MAX];
    if (::realpath(path.c_str(), real)) {
        realPath_ = real;
    } else {
        struct stat link {};
        if (errno != ENOENT || ::lstat(path.c_str(), &link) == 0) throw CommandError(ExitCode::Failed, name_, DescribeErrno(errno));
        const std::string parent = given.has_parent_path() ? given.parent_path().string() : ".";
        if (!::realpath(parent.c_str(), real)) throw CommandError(ExitCode::Failed, name_, "its folder: " + DescribeErrno(errno));
        realPath_ = (std::filesystem::path(real) / given.filename()).string();
    }
    const std::filesystem::path resolved(realPath_);
    folderPath_ = resolved.parent_path().string();
    const std::string fileName = resolved.filename().string();
    folder_.reset(::open(folderPath_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder_) throw CommandError(ExitCode::Failed, name_, "its folder: " + DescribeErrno(errno));

    locked_.reset(::openat(folder_.get(), fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (locked_) {
        struct stat info {};
        if (::fstat(locked_.get(), &info) != 0) throw CommandError(ExitCode::Failed, name_, DescribeErrno(errno));
        if (!S_ISREG(info.st_mode)) throw CommandError(ExitCode::Failed, name_, "not a regular file");
        // Replacing needs only the folder, but a file its owner made read-only (as 7zz reads the
        // mode, root included) or one the user may not write is not the user's to rewrite.
        if ((info.st_mode & S_IWUSR) == 0 || ::faccessat(folder_.get(), fileName.c_str(), W_OK, AT_EACCESS) != 0)
            throw CommandError(ExitCode::Failed, name_, "read-only: nothing written (chmod u+w lets it be rewritten)");
        if (::flock(locked_.get(), LOCK_EX | LOCK_NB) != 0)
            throw CommandError(ExitCode::Busy, name_, "archive busy: another command is writing it");
        // The lock must be on the file the name stands for now, not on one replaced meanwhile.
        struct stat now {};
        if (::fstatat(folder_.get(), fileName.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(now, info))
            throw CommandError(ExitCode::Busy, name_, "archive busy: another command replaced it");
        original_ = info;
    } else if (errno != ENOENT) {
        throw CommandError(ExitCode::Failed, name_, DescribeErrno(errno));
    }

    // Hidden, and ending in something no format is named by, so that it is never taken for the
    // archive; mkostemp creates it exclusively with mode 0600.
    std::string temporaryPath = folderPath_ + "/." + fileName + ".zorvik-XXXXXX";
    temporary_.reset(::mkostemp(temporaryPath.data(), O_CLOEXEC));
    if (!temporary_) throw CommandError(ExitCode::Failed, name_, "cannot create a temporary file beside it: " + DescribeErrno(errno));
    temporaryName_ = std::filesystem::path(temporaryPath).filename().string();
    ::fstat(temporary_.get(), &temporaryInfo_);
}

ArchiveReplacement::~ArchiveReplacement() {
    if (!committed_ && temporary_) ::unlinkat(folder_.get(), temporaryName_.c_str(), 0);
}

bool ArchiveReplacement::IsArchiveOrTemporary(const struct stat& file) const noexcept {
    return SameFile(file, temporaryInfo_) || (original_ && SameFile(file, *original_));
}

zorvik::rt::com_ptr<IRandomAccessStream> ArchiveReplacement::Stream() const {
    return zorvik::rt::open_file_stream_on(temporary_.get(), ABI::Windows::Storage::FileAccessMode::ReadWrite);
}

std::uint64_t ArchiveReplacement::WrittenSize() const {
    struct stat info {};
    return ::fstat(temporary_.get(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

void ArchiveReplacement::Commit(bool replaceExisting) {
    // A Ctrl-C that came once the archive was written still keeps the old one.
    if (Interrupt::Requested()) throw CommandError(ExitCode::Interrupted, name_, "interrupted");
    Prepare();
    Sync();
    Name(replaceExisting);
    SyncFolder();
}

void ArchiveReplacement::Prepare() {
    if (original_) {
        // Where the ownership cannot be kept (not root), the file stays the writer's.
        [[maybe_unused]] const int owned = ::fchown(temporary_.get(), original_->st_uid, original_->st_gid);
    }
    const mode_t mode = original_ ? original_->st_mode & 07777 : ModeForNewFiles();
    if (::fchmod(temporary_.get(), mode) != 0) throw CommandError(ExitCode::Failed, name_, "cannot set its mode: " + DescribeErrno(errno));
}

void ArchiveReplacement::Sync() const {
    if (::fsync(temporary_.get()) != 0) throw CommandError(ExitCode::Failed, name_, "cannot write it: " + DescribeErrno(errno));
}

void ArchiveReplacement::Name(bool replaceExisting) {
    const std::string fileName = std::filesystem::path(realPath_).filename().string();
    if (original_ || replaceExisting) {
        if (::renameat(folder_.get(), temporaryName_.c_str(), folder_.get(), fileName.c_str()) != 0)
            throw CommandError(ExitCode::Failed, name_, "cannot replace it: " + DescribeErrno(errno));
    } else if (!RenameNoReplace(folder_.get(), temporaryName_.c_str(), fileName.c_str())) {
        if (errno == EEXIST) throw CommandError(ExitCode::Busy, name_, "another command created it meanwhile");
        throw CommandError(ExitCode::Failed, name_, "cannot create it: " + DescribeErrno(errno));
    }
    committed_ = true;
}

// The rename itself reaches the disk with the folder.
void ArchiveReplacement::SyncFolder() const { ::fsync(folder_.get()); }

}  // namespace Zorvik::Cli
