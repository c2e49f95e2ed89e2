#include "cli/DestinationFolder.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "cli/Failure.h"
#include "cli/Text.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Cli {

namespace {

[[noreturn]] void Fail(const std::string& what, int error) { throw ItemWriteError(what + ": " + DescribeErrno(error)); }

bool IsSymbolicLink(int folder, const std::string& name) {
    struct stat info {};
    return ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
}

}  // namespace

DestinationFolder::DestinationFolder(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    root_.reset(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root_) Fail("cannot open the destination folder", errno);
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
    zorvik::rt::unique_fd current(::fcntl(root_.get(), F_DUPFD_CLOEXEC, 0));
    if (!current) Fail("cannot open the destination folder", errno);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& name = names[i];
        if (create && ::mkdirat(current.get(), name.c_str(), 0777) != 0 && errno != EEXIST) Fail("cannot create folder " + name, errno);
        zorvik::rt::unique_fd next(::openat(current.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next) {
            const int error = errno;
            if (IsSymbolicLink(current.get(), name)) throw RefusedName("path goes through a symbolic link (" + name + ")");
            if (error == ENOTDIR) throw ItemWriteError("a file is in the way of folder " + name);
            Fail("cannot open folder " + name, error);
        }
        current = std::move(next);
    }
    return current;
}

std::optional<DestinationFolder::CreatedFile> DestinationFolder::CreateFile(const std::vector<std::wstring>& components,
                                                                             ExistingFiles policy) const {
    // A file needs a name of its own; a folder named "" or "." is the folder that holds it.
    if (components.empty() || components.back().empty() || components.back() == L".") throw RefusedName("invalid file name");
    const std::vector<std::string> names = Names(components);
    CreatedFile created;
    created.folder = OpenFolder(names, names.size() - 1, true);
    created.name = names.back();
    const int folder = created.folder.get();
    struct stat existing {};
    if (::fstatat(folder, created.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        if (policy == ExistingFiles::Skip) return std::nullopt;
        if (S_ISDIR(existing.st_mode)) throw ItemWriteError("a folder of that name exists");
        if (policy == ExistingFiles::Fail) throw ItemWriteError("exists (use --overwrite or --skip-existing)");
        // Replaced rather than truncated: a link (symbolic or hard) to a file elsewhere is
        // removed, and what it pointed to stays untouched.
        if (::unlinkat(folder, created.name.c_str(), 0) != 0 && errno != ENOENT) Fail("cannot replace it", errno);
    }
    // O_EXCL never follows a symbolic link, even one created since the check above.
    created.file.reset(::openat(folder, created.name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!created.file) {
        if (errno == EEXIST) throw ItemWriteError("exists (use --overwrite or --skip-existing)");
        Fail("cannot create it", errno);
    }
    return created;
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

void DestinationFolder::SetModified(const CreatedFile& file, const timespec& modified) {
    const timespec times[2] = {{0, UTIME_OMIT}, modified};
    if (::futimens(file.file.get(), times) != 0) Fail("cannot set its time", errno);
}

void DestinationFolder::Remove(CreatedFile& file) noexcept {
    file.file.reset();
    ::unlinkat(file.folder.get(), file.name.c_str(), 0);
}

}  // namespace Zorvik::Cli
