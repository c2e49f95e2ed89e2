#include "cli/extracting/DestinationFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <fmt/compile.h>
#include <fmt/format.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>
#include <utility>

#include "cli/terminal/Failure.h"
#include "cli/terminal/Text.h"
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
    return fmt::format(FMT_COMPILE(".{}.{:016x}.zorvik-part"), name.substr(0, 200), random());
}

// The folders of path that do not exist yet, deepest first.
std::vector<std::filesystem::path> MissingFolders(const std::string& path) {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::absolute(path, error).lexically_normal();
    if (!folder.has_filename()) folder = folder.parent_path();
    std::vector<std::filesystem::path> missing;
    for (; folder != folder.parent_path() && !std::filesystem::exists(std::filesystem::symlink_status(folder, error));
         folder = folder.parent_path())
        missing.push_back(folder);
    return missing;
}

bool IsSymbolicLink(int folder, const std::string& name) {
    struct stat info {};
    return ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
}

// Whether name may be taken under the policy: false to skip it; raises when it may not be. A
// file replaceable says so of turns the policy to Overwrite; replaces tells whether something
// is there.
bool MayTake(int folder, const std::string& name, ExistingFiles& policy, bool& replaces,
             const DestinationFolder::Replaceable& replaceable) {
    struct stat existing {};
    replaces = ::fstatat(folder, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (!replaces) return true;
    if (replaceable && !S_ISDIR(existing.st_mode) && replaceable({existing.st_dev, existing.st_ino})) policy = ExistingFiles::Overwrite;
    if (policy == ExistingFiles::Skip) return false;
    if (S_ISDIR(existing.st_mode)) throw ItemWriteError("a folder of that name exists");
    if (policy == ExistingFiles::Fail) throw ItemWriteError(kExists);
    return true;
}

// A new item under a temporary name beside name, made by make (which fails with -1 and errno);
// the temporary name.
template <typename Make>
std::string MakeTemporary(const std::string& name, Make&& make) {
    for (int attempt = 0;; ++attempt) {
        std::string temporary = TemporaryName(name);
        if (make(temporary.c_str()) == 0) return temporary;
        if (errno != EEXIST || attempt == 10) Fail("cannot create it", errno);
    }
}

// renameat2 with RENAME_NOREPLACE, or a new link where the file system lacks it.
int RenameWithoutReplacing(int folder, const char* from, const char* to) {
    if (::renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL || ::linkat(folder, from, folder, to, 0) != 0) return -1;
    ::unlinkat(folder, from, 0);
    return 0;
}

// Gives the item at temporary its name: replaced rather than written through, so that a link
// (symbolic or hard) at the name is replaced and what it pointed to stays untouched. Without
// Overwrite, an item that appeared since the check is kept. On failure the item goes.
void GiveName(int folder, const std::string& temporary, const std::string& name, ExistingFiles policy) {
    const int renamed = policy == ExistingFiles::Overwrite ? ::renameat(folder, temporary.c_str(), folder, name.c_str())
                                                           : RenameWithoutReplacing(folder, temporary.c_str(), name.c_str());
    if (renamed == 0) return;
    const int error = errno;
    ::unlinkat(folder, temporary.c_str(), 0);
    if (error == EEXIST) throw ItemWriteError(kExists);
    if (error == EISDIR) throw ItemWriteError("a folder of that name exists");
    Fail("cannot give it its name", error);
}

// A new item made by make (which fails with -1 and errno) under a temporary name in folder,
// given name under the policy; false when the policy leaves what is there.
template <typename Make>
bool PlaceNew(int folder, const std::string& name, ExistingFiles policy, const DestinationFolder::Replaceable& replaceable, Make&& make) {
    bool replaces = false;
    if (!MayTake(folder, name, policy, replaces, replaceable)) return false;
    GiveName(folder, MakeTemporary(name, std::forward<Make>(make)), name, policy);
    return true;
}

}  // namespace

DestinationFolder::DestinationFolder(const std::string& path, bool preservePermissions)
    : creationMask_(CreationMask()), preservePermissions_(preservePermissions) {
    std::error_code error;
    created_ = MissingFolders(path);
    std::filesystem::create_directories(path, error);
    zorvik::rt::unique_fd root(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // The reason it could not be made says more than that it is missing.
    if (!root) Fail("cannot open the destination folder", error ? error.value() : errno);
    root_ = std::make_shared<const zorvik::rt::unique_fd>(std::move(root));
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
        names.push_back(zorvik::rt::to_utf8(component));
    }
    return names;
}

DestinationFolder::Folder DestinationFolder::OpenFolder(const std::vector<std::string>& names, std::size_t count, bool create) const {
    std::size_t shared = 0;
    while (shared < opened_.size() && shared < count && opened_[shared].name == names[shared]) ++shared;
    // Folders below a path that continues elsewhere are of no further use.
    if (shared < count) opened_.resize(shared);
    Folder current = shared == 0 ? root_ : opened_[shared - 1].folder;
    for (std::size_t i = shared; i < count; ++i) {
        const std::string& name = names[i];
        const int parent = current->get();
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
        current = std::make_shared<const zorvik::rt::unique_fd>(std::move(next));
        // Kept for the next item down to a depth; below it, each folder replaces the one above.
        if (opened_.size() == i && i < kKeptDepth) opened_.push_back({name, current});
    }
    return current;
}

std::optional<DestinationFolder::CreatedFile> DestinationFolder::CreateFile(const std::vector<std::wstring>& components,
                                                                            ExistingFiles policy, const Replaceable& replaceable) const {
    // A file needs a name of its own; a folder named "" or "." is the folder that holds it.
    if (components.empty() || components.back().empty() || components.back() == L".") throw RefusedName("invalid file name");
    const std::vector<std::string> names = Names(components);
    CreatedFile created;
    created.folder = OpenFolder(names, names.size() - 1, true);
    created.name = names.back();
    created.policy = policy;
    const int folder = created.folder->get();
    if (!MayTake(folder, created.name, created.policy, created.replaces, replaceable)) return std::nullopt;
    // Owner-only until it is whole; O_EXCL never follows a symbolic link.
    created.temporaryName = MakeTemporary(created.name, [&](const char* temporary) {
        created.file.reset(::openat(folder, temporary, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        return created.file ? 0 : -1;
    });
    return created;
}

mode_t DestinationFolder::Permitted(mode_t mode) const noexcept {
    return preservePermissions_ ? mode & 07777 : mode & 0777 & ~creationMask_;
}

void DestinationFolder::Commit(CreatedFile& file) const {
    const mode_t mode = file.mode ? Permitted(*file.mode) : 0666 & ~creationMask_;
    if (::fchmod(file.file.get(), mode) != 0 || (file.replaces && ::fdatasync(file.file.get()) != 0)) {
        const int error = errno;
        Remove(file);
        Fail("cannot write it", error);
    }
    GiveName(file.folder->get(), std::exchange(file.temporaryName, {}), file.name, file.policy);
}

bool DestinationFolder::CreateSymbolicLink(const std::vector<std::wstring>& components, const std::string& target, ExistingFiles policy,
                                           const std::optional<timespec>& modified, const Replaceable& replaceable) const {
    const std::vector<std::string> names = Names(components);
    if (names.empty()) throw RefusedName("invalid file name");
    const Folder folder = OpenFolder(names, names.size() - 1, true);
    if (!PlaceNew(folder->get(), names.back(), policy, replaceable,
                  [&](const char* name) { return ::symlinkat(target.c_str(), folder->get(), name); }))
        return false;
    if (modified) {
        const timespec times[2] = {{0, UTIME_OMIT}, *modified};
        if (::utimensat(folder->get(), names.back().c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) Fail("cannot set its time", errno);
    }
    return true;
}

bool DestinationFolder::CreateHardLink(const std::vector<std::wstring>& components, const std::vector<std::wstring>& existing,
                                       ExistingFiles policy, const Replaceable& replaceable) const {
    const std::vector<std::string> names = Names(components);
    const std::vector<std::string> existingNames = Names(existing);
    if (names.empty() || existingNames.empty()) throw RefusedName("invalid file name");
    const Folder existingFolder = OpenFolder(existingNames, existingNames.size() - 1, false);
    struct stat target {};
    if (::fstatat(existingFolder->get(), existingNames.back().c_str(), &target, AT_SYMLINK_NOFOLLOW) != 0)
        Fail("cannot link to its target", errno);
    if (!S_ISREG(target.st_mode)) throw ItemWriteError("its target is not a regular file");
    const Folder folder = OpenFolder(names, names.size() - 1, true);
    return PlaceNew(folder->get(), names.back(), policy, replaceable, [&](const char* name) {
        return ::linkat(existingFolder->get(), existingNames.back().c_str(), folder->get(), name, 0);
    });
}

std::optional<std::string> DestinationFolder::SymbolicLinkAt(const std::vector<std::string>& names) const {
    if (names.empty()) return std::nullopt;
    Folder folder;
    try {
        folder = OpenFolder(names, names.size() - 1, false);
    } catch (const ItemWriteError&) {
        return std::nullopt;  // nothing there
    }
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlinkat(folder->get(), names.back().c_str(), target.data(), target.size());
    if (length < 0) return std::nullopt;
    target.resize(static_cast<std::size_t>(length));
    return target;
}

zorvik::rt::unique_fd DestinationFolder::OpenFile(const std::vector<std::wstring>& components) const {
    const std::vector<std::string> names = Names(components);
    if (names.empty()) throw RefusedName("invalid file name");
    const Folder folder = OpenFolder(names, names.size() - 1, false);
    zorvik::rt::unique_fd file(::openat(folder->get(), names.back().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0) Fail("cannot open " + names.back(), errno);
    if (!S_ISREG(info.st_mode)) throw ItemWriteError(names.back() + " is not a regular file");
    return file;
}

void DestinationFolder::CreateFolder(const std::vector<std::wstring>& components) const {
    const std::vector<std::string> names = Names(components);
    OpenFolder(names, names.size(), true);
}

void DestinationFolder::SetFolderModified(const std::vector<std::wstring>& components, const timespec& modified) const {
    const std::vector<std::string> names = Names(components);
    const Folder folder = OpenFolder(names, names.size(), false);
    const timespec times[2] = {{0, UTIME_OMIT}, modified};
    if (::futimens(folder->get(), times) != 0) Fail("cannot set its time", errno);
}

void DestinationFolder::SetFolderMode(const std::vector<std::wstring>& components, mode_t mode) const {
    const std::vector<std::string> names = Names(components);
    const Folder folder = OpenFolder(names, names.size(), false);
    if (::fchmod(folder->get(), Permitted(mode)) != 0) Fail("cannot set its mode", errno);
}

DestinationFolder::FileIdentity DestinationFolder::Identity(int file) {
    struct stat info {};
    if (::fstat(file, &info) != 0) Fail("cannot read what it is", errno);
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
    if (!file.temporaryName.empty()) ::unlinkat(file.folder->get(), file.temporaryName.c_str(), 0);
    file.temporaryName.clear();
}

}  // namespace Zorvik::Cli
