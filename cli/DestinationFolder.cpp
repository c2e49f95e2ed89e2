#include "cli/DestinationFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include "cli/Failure.h"
#include "cli/Text.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Cli {

namespace {

const char* const kExists = "exists (use --overwrite or --skip-existing)";

[[noreturn]] void Fail(const std::string& what, int error) { throw ItemWriteError(what + ": " + DescribeErrno(error), error); }

// The process's file-creation mask, read without changing it (umask() would, for every thread).
mode_t CreationMask() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    return 022;
}

// A name of our own beside the file's, hidden and unlikely to be taken.
std::string TemporaryName(const std::string& name) {
    static std::mt19937_64 random{std::random_device{}()};
    return fmt::format(".{}.{:016x}.zorvik-part", name.substr(0, 200), random());
}

// The folders of path that do not exist yet, deepest first.
std::vector<std::filesystem::path> MissingFolders(const std::string& path) {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::absolute(path, error).lexically_normal();
    if (!folder.has_filename()) folder = folder.parent_path();
    std::vector<std::filesystem::path> missing;
    for (; folder != folder.parent_path() && !std::filesystem::exists(std::filesystem::symlink_status(folder, error)); folder = folder.parent_path())
        missing.push_back(folder);
    return missing;
}

bool IsSymbolicLink(int folder, const std::string& name) {
    struct stat info {};
    return ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
}

}  // namespace

DestinationFolder::DestinationFolder(const std::string& path) : fileMode_(0666 & ~CreationMask()) {
    std::error_code error;
    created_ = MissingFolders(path);
    std::filesystem::create_directories(path, error);
    root_.reset(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // The reason it could not be made says more than that it is missing.
    if (!root_) Fail("cannot open the destination folder", error ? error.value() : errno);
}

void DestinationFolder::RemoveCreatedFolders() const noexcept {
    for (const auto& folder : created_)
        if (::rmdir(folder.c_str()) != 0) return;
}

std::vector<std::string> DestinationFolder::Names(const std::vector<std::wstring>& components) {
    std::vector<std::string> names;
    for (const std::wstring& component : components) {
        if (component == L"..") throw RefusedName("name holds \"..\"");
        if (component.find(L'\0') != std::wstring::npos) throw RefusedName("name holds a NUL character");
        // Empty components (from doubled separators) and "." stay where they are.
        if (component.empty() || component == L".") continue;
        names.push_back(FileSystemName(component));
    }
    return names;
}

zorvik::rt::unique_fd DestinationFolder::OpenFolder(const std::vector<std::string>& names, std::size_t count, bool create) const {
    std::size_t shared = 0;
    while (shared < opened_.size() && shared < count && opened_[shared].name == names[shared]) ++shared;
    // Folders below a path that continues elsewhere are of no further use.
    if (shared < count) opened_.resize(shared);
    zorvik::rt::unique_fd deeper;  // below the kept depth, each folder replaces the one above
    const auto current = [&] { return deeper ? deeper.get() : shared == 0 ? root_.get() : opened_[shared - 1].folder.get(); };
    for (std::size_t i = shared; i < count; ++i, ++shared) {
        const std::string& name = names[i];
        const int parent = current();
        zorvik::rt::unique_fd next(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next && errno == ENOENT && create) {
            if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) Fail("cannot create folder " + name, errno);
            next.reset(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        }
        if (!next) {
            const int error = errno;
            if (IsSymbolicLink(parent, name)) throw RefusedName("path goes through a symbolic link (" + name + ")");
            if (error == ENOTDIR) throw ItemWriteError("a file is in the way of folder " + name);
            Fail("cannot open folder " + name, error);
        }
        if (!deeper && opened_.size() < kKeptDepth)
            opened_.push_back({name, std::move(next)});
        else
            deeper = std::move(next);
    }
    if (deeper) return deeper;
    zorvik::rt::unique_fd folder(::fcntl(current(), F_DUPFD_CLOEXEC, 0));
    if (!folder) Fail("cannot open the destination folder", errno);
    return folder;
}

std::optional<DestinationFolder::CreatedFile> DestinationFolder::CreateFile(const std::vector<std::wstring>& components, ExistingFiles policy,
                                                                             const std::function<bool(FileIdentity)>& replaceable) const {
    // A file needs a name of its own; a folder named "" or "." is the folder that holds it.
    if (components.empty() || components.back().empty() || components.back() == L".") throw RefusedName("invalid file name");
    const std::vector<std::string> names = Names(components);
    CreatedFile created;
    created.folder = OpenFolder(names, names.size() - 1, true);
    created.name = names.back();
    created.policy = policy;
    const int folder = created.folder.get();
    struct stat existing {};
    if (::fstatat(folder, created.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        if (replaceable && !S_ISDIR(existing.st_mode) && replaceable({existing.st_dev, existing.st_ino})) policy = created.policy = ExistingFiles::Overwrite;
        if (policy == ExistingFiles::Skip) return std::nullopt;
        if (S_ISDIR(existing.st_mode)) throw ItemWriteError("a folder of that name exists");
        if (policy == ExistingFiles::Fail) throw ItemWriteError(kExists);
        created.replaces = true;
    }
    // Owner-only until it is whole; O_EXCL never follows a symbolic link.
    for (int attempt = 0; !created.file; ++attempt) {
        created.temporaryName = TemporaryName(created.name);
        created.file.reset(::openat(folder, created.temporaryName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!created.file && (errno != EEXIST || attempt == 10)) Fail("cannot create it", errno);
    }
    return created;
}

namespace {

// renameat2 with RENAME_NOREPLACE, or a new link where the file system lacks it.
int RenameWithoutReplacing(int folder, const char* from, const char* to) {
    if (::renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL || ::linkat(folder, from, folder, to, 0) != 0) return -1;
    ::unlinkat(folder, from, 0);
    return 0;
}

}  // namespace

void DestinationFolder::Commit(CreatedFile& file) const {
    if (::fchmod(file.file.get(), fileMode_) != 0 || (file.replaces && ::fdatasync(file.file.get()) != 0)) {
        const int error = errno;
        Remove(file);
        Fail("cannot write it", error);
    }
    // Replaced rather than written through: a link (symbolic or hard) at the name is replaced,
    // and what it pointed to stays untouched. Without --overwrite, a file that appeared since
    // the check is kept.
    const int folder = file.folder.get();
    const int renamed = file.policy == ExistingFiles::Overwrite ? ::renameat(folder, file.temporaryName.c_str(), folder, file.name.c_str())
                                                                : RenameWithoutReplacing(folder, file.temporaryName.c_str(), file.name.c_str());
    if (renamed != 0) {
        const int error = errno;
        Remove(file);
        if (error == EEXIST) throw ItemWriteError(kExists);
        if (error == EISDIR) throw ItemWriteError("a folder of that name exists");
        Fail("cannot give it its name", error);
    }
    file.temporaryName.clear();
}

void DestinationFolder::CreateFolder(const std::vector<std::wstring>& components) const {
    const std::vector<std::string> names = Names(components);
    OpenFolder(names, names.size(), true);
}

void DestinationFolder::SetFolderModified(const std::vector<std::wstring>& components, const timespec& modified) const {
    const std::vector<std::string> names = Names(components);
    const zorvik::rt::unique_fd folder = OpenFolder(names, names.size(), false);
    const timespec times[2] = {{0, UTIME_OMIT}, modified};
    if (::futimens(folder.get(), times) != 0) Fail("cannot set its time", errno);
}

DestinationFolder::FileIdentity DestinationFolder::Identity(const CreatedFile& file) {
    struct stat info {};
    if (::fstat(file.file.get(), &info) != 0) Fail("cannot read what it is", errno);
    return {info.st_dev, info.st_ino};
}

void DestinationFolder::SetModified(const CreatedFile& file, const timespec& modified) {
    const timespec times[2] = {{0, UTIME_OMIT}, modified};
    if (::futimens(file.file.get(), times) != 0) Fail("cannot set its time", errno);
}

bool DestinationFolder::IsFull(const CreatedFile& file) noexcept {
    struct statvfs space {};
    return file.file && ::fstatvfs(file.file.get(), &space) == 0 && space.f_bavail == 0;
}

void DestinationFolder::Remove(CreatedFile& file) noexcept {
    file.file.reset();
    if (!file.temporaryName.empty()) ::unlinkat(file.folder.get(), file.temporaryName.c_str(), 0);
    file.temporaryName.clear();
}

}  // namespace Zorvik::Cli
