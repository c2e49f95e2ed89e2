#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "files/src/Common.h"
#include "zorvik/files/Files.h"

namespace zorvik::files {

namespace {

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

mode_t ModeForNewFiles() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Renames without replacing what is there; false with errno when it cannot.
bool RenameNoReplace(int folder, const char* from, const char* to) {
    if (::renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the flag: a second link fails just as well when the name is taken.
    if (::linkat(folder, from, folder, to, 0) != 0) return false;
    ::unlinkat(folder, from, 0);
    return true;
}

}  // namespace

Replacement::Replacement(const std::string& path) : name_(path) {
    const char* const member = "files::Replacement";
    const std::filesystem::path given(path);
    char real[PATH_MAX];
    if (::realpath(path.c_str(), real)) {
        real_path_ = real;
    } else {
        struct stat link {};
        if (errno != ENOENT || ::lstat(path.c_str(), &link) == 0) detail::raise_errno(errno, {}, member, name_);
        const std::string parent = given.has_parent_path() ? given.parent_path().string() : ".";
        if (!::realpath(parent.c_str(), real)) detail::raise_errno(errno, "its folder", member, name_);
        real_path_ = (std::filesystem::path(real) / given.filename()).string();
    }
    const std::filesystem::path resolved(real_path_);
    const std::string folder_path = resolved.parent_path().string();
    const std::string file_name = resolved.filename().string();
    detail::fd folder(::open(folder_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) detail::raise_errno(errno, "its folder", member, name_);

    detail::fd locked(::openat(folder.get(), file_name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (locked) {
        struct stat info {};
        if (::fstat(locked.get(), &info) != 0) detail::raise_errno(errno, {}, member, name_);
        if (!S_ISREG(info.st_mode)) throw Error(ErrorCode::InvalidArgument, E_INVALIDARG, "not a regular file", {member, name_, {}});
        if ((info.st_mode & S_IWUSR) == 0 || ::faccessat(folder.get(), file_name.c_str(), W_OK, AT_EACCESS) != 0)
            throw Error(ErrorCode::CannotWrite, E_ACCESSDENIED, "read-only: nothing written (chmod u+w lets it be rewritten)",
                        {member, name_, {}});
        if (::flock(locked.get(), LOCK_EX | LOCK_NB) != 0)
            throw Error(ErrorCode::ArchiveBusy, zorvik::detail::kBusy, "archive busy: another writer has it", {member, name_, {}});
        // The lock must be on the file the name stands for now, not on one replaced meanwhile.
        struct stat now {};
        if (::fstatat(folder.get(), file_name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(now, info))
            throw Error(ErrorCode::ArchiveBusy, zorvik::detail::kBusy, "archive busy: another writer replaced it", {member, name_, {}});
        original_ = info;
    } else if (errno != ENOENT) {
        detail::raise_errno(errno, {}, member, name_);
    }

    // Hidden, and ending in something no format is named by; mkostemp creates it exclusively
    // with mode 0600.
    std::string temporary_path = folder_path + "/." + file_name + ".zorvik-XXXXXX";
    detail::fd temporary(::mkostemp(temporary_path.data(), O_CLOEXEC));
    if (!temporary) detail::raise_errno(errno, "cannot create a temporary file beside it", member, name_);
    temporary_name_ = std::filesystem::path(temporary_path).filename().string();
    ::fstat(temporary.get(), &temporary_info_);
    folder_ = folder.release();
    locked_ = locked.release();
    temporary_ = temporary.release();
}

Replacement::~Replacement() {
    if (!committed_ && temporary_ >= 0) ::unlinkat(folder_, temporary_name_.c_str(), 0);
    for (int fd : {temporary_, locked_, folder_})
        if (fd >= 0) ::close(fd);
}

Stream Replacement::stream() const {
    try {
        return Stream(zorvik::rt::open_file_stream_on(temporary_, ABI::Windows::Storage::FileAccessMode::ReadWrite));
    } catch (...) {
        zorvik::detail::rethrow_as_error({"files::Replacement::stream", name_, {}});
    }
}

std::uint64_t Replacement::written_size() const {
    struct stat info {};
    return ::fstat(temporary_, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

bool Replacement::holds(const struct stat& file) const noexcept {
    return SameFile(file, temporary_info_) || (original_ && SameFile(file, *original_));
}

void Replacement::commit(bool replace_existing) {
    if (committed_)
        throw Error(ErrorCode::InvalidArgument, E_ILLEGAL_METHOD_CALL, "committed already", {"files::Replacement::commit", name_, {}});
    prepare();
    sync();
    name(replace_existing);
    sync_folder();
}

void Replacement::prepare() {
    if (original_) {
        // Where the owner cannot be kept (not root), the file stays the writer's.
        [[maybe_unused]] const int owned = ::fchown(temporary_, original_->st_uid, original_->st_gid);
    }
    const mode_t mode = original_ ? original_->st_mode & 07777 : ModeForNewFiles();
    if (::fchmod(temporary_, mode) != 0) detail::raise_errno(errno, "cannot set its mode", "files::Replacement::commit", name_);
}

void Replacement::sync() const {
    if (::fsync(temporary_) != 0) detail::raise_errno(errno, "cannot write it", "files::Replacement::commit", name_);
}

void Replacement::name(bool replace_existing) {
    const char* const member = "files::Replacement::commit";
    if (committed_) throw Error(ErrorCode::InvalidArgument, E_ILLEGAL_METHOD_CALL, "committed already", {member, name_, {}});
    const std::string file_name = std::filesystem::path(real_path_).filename().string();
    if (original_ || replace_existing) {
        if (::renameat(folder_, temporary_name_.c_str(), folder_, file_name.c_str()) != 0)
            detail::raise_errno(errno, "cannot replace it", member, name_);
    } else if (!RenameNoReplace(folder_, temporary_name_.c_str(), file_name.c_str())) {
        if (errno == EEXIST) throw Error(ErrorCode::AlreadyExists, zorvik::detail::kAlreadyExists, "already exists", {member, name_, {}});
        detail::raise_errno(errno, "cannot create it", member, name_);
    }
    committed_ = true;
}

// The rename reaches the disk with the folder.
void Replacement::sync_folder() const { ::fsync(folder_); }

// NAME.001, NAME.002 ...: three digits at least, as 7zz names volumes.
std::string VolumeName(const std::string& path, std::uint32_t number) {
    std::string digits = std::to_string(number);
    if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
    return path + "." + digits;
}

void create(const std::string& path, const std::vector<Addable>& items, const CompressionOptions& options, bool replace_existing) {
    CompressionOptions chosen = options;
    if (chosen.format.empty()) chosen.format = zorvik::rt::to_utf8(zorvik::detail::extension_of(path));
    // Each volume is written as an archive is, and all are named only once the last is whole.
    std::vector<std::unique_ptr<Replacement>> volumes;
    const auto add_volume = [&](const std::string& name) -> Replacement& {
        volumes.push_back(std::make_unique<Replacement>(name));
        if (volumes.back()->exists() && !replace_existing)
            throw Error(ErrorCode::AlreadyExists, zorvik::detail::kAlreadyExists, "already exists", {"files::create", name, {}});
        return *volumes.back();
    };
    Replacement& first = add_volume(options.volume_size != 0 ? VolumeName(path, 1) : path);
    const std::string name = std::filesystem::path(path).filename().string();
    const Archive archive = Archive::create(first.stream(), chosen, {.name = name, .path = first.real_path(), .label = path});
    archive.add(items, {},
                {.volume = [&](std::uint32_t number) -> std::optional<Stream> { return add_volume(VolumeName(path, number)).stream(); }});
    for (const auto& volume : volumes)
        // A volume the engine emptied again (it cut the archive back) is no part of the set.
        if (volume.get() == &first || volume->stream().size() != 0) volume->commit(replace_existing);
}

}  // namespace zorvik::files
