#include "cli/AddedFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "cli/ExitCode.h"
#include "cli/Failure.h"
#include "cli/FileTime.h"
#include "zorvik/runtime/streams.h"
#include "zorvik/runtime/unique_fd.h"

namespace Zorvik::Cli {

namespace {

std::string Below(const std::string& folder, const std::string& name) { return folder.empty() ? name : folder + "/" + name; }

// The names in a folder, sorted, so that an archive does not depend on the order of the disk.
std::optional<std::vector<std::string>> NamesIn(const std::string& folder) {
    DIR* listing = ::opendir(folder.c_str());
    if (!listing) return std::nullopt;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(listing);
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> LinkTarget(const std::string& link) {
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
    if (length < 0) return std::nullopt;
    target.resize(static_cast<std::size_t>(length));
    return target;
}

}  // namespace

std::optional<std::string> AddedFiles::StoredName(const std::string& path) {
    std::string stored;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string component = path.substr(start, end - start);
        if (component == "..") return std::nullopt;
        if (!component.empty() && component != ".") stored = Below(stored, component);
        start = end + 1;
    }
    return stored;
}

AddedFiles::AddedFiles(const std::vector<std::string>& paths, const std::string& prefix, SymbolicLinks links, Console& console,
                       const std::function<bool(const struct stat&)>& leaveOut)
    : links_(links), console_(console), leaveOut_(leaveOut) {
    for (const std::string& path : paths) {
        const auto stored = StoredName(path);
        if (!stored) throw CommandError(ExitCode::Usage, path, "a path with \"..\" cannot be stored");
        struct stat info {};
        // A link given as "link/" is followed, as the system resolves that name.
        if ((links_ == SymbolicLinks::Followed ? ::stat : ::lstat)(path.c_str(), &info) != 0) {
            LeaveOut(path, DescribeErrno(errno));
            continue;
        }
        const std::string name = Below(prefix, *stored);
        if (!S_ISDIR(info.st_mode)) {
            Add(path, name, info);
        } else if (name.empty() || Add(path, name, info)) {
            AddFolderContent(path, name, info);
        }
    }
}

bool AddedFiles::FolderChain::Holds(const struct stat& info) const {
    for (const FolderChain* folder = this; folder; folder = folder->parent.get())
        if (folder->device == info.st_dev && folder->inode == info.st_ino) return true;
    return false;
}

bool AddedFiles::Add(const std::string& source, const std::string& stored, const struct stat& info) {
    if (leaveOut_(info)) return false;
    const bool folder = S_ISDIR(info.st_mode), link = S_ISLNK(info.st_mode);
    if (!folder && !link && !S_ISREG(info.st_mode)) {
        LeaveOut(source, "not a regular file");
        return false;
    }
    std::string linkTarget;
    if (link) {
        const auto target = LinkTarget(source);
        if (!target || target->empty()) {
            LeaveOut(source, target ? "a symbolic link without a target" : DescribeErrno(errno));
            return false;
        }
        linkTarget = *target;
    } else if (!folder && ::faccessat(AT_FDCWD, source.c_str(), R_OK, AT_EACCESS) != 0) {
        LeaveOut(source, DescribeErrno(errno));
        return false;
    }
    const auto [taken, added] = byName_.try_emplace(stored, info.st_dev, info.st_ino);
    if (!added) {
        // The same file reached from two of the paths given is added once.
        if (taken->second != std::pair(info.st_dev, info.st_ino)) LeaveOut(source, "another file is stored as " + stored);
        return false;
    }
    files_.push_back({source, stored, folder,
                      folder ? 0
                      : link ? linkTarget.size()
                             : static_cast<std::uint64_t>(info.st_size),
                      FromTimespec(info.st_mtim), static_cast<std::uint32_t>(info.st_mode), std::move(linkTarget)});
    return true;
}

void AddedFiles::AddFolderContent(const std::string& source, const std::string& stored, const struct stat& info) {
    struct Pending {
        std::string source, stored;
        std::shared_ptr<const FolderChain> chain;
    };
    // An explicit stack: a deep tree must not exhaust the call stack.
    std::vector<Pending> pending{{source, stored, std::make_shared<const FolderChain>(FolderChain{info.st_dev, info.st_ino, nullptr})}};
    while (!pending.empty()) {
        const Pending folder = std::move(pending.back());
        pending.pop_back();
        const auto names = NamesIn(folder.source);
        if (!names) {
            LeaveOut(folder.source, DescribeErrno(errno));
            continue;
        }
        std::vector<Pending> subfolders;
        for (const std::string& name : *names) {
            const std::string childSource = folder.source + "/" + name, childStored = Below(folder.stored, name);
            struct stat child {};
            if (::lstat(childSource.c_str(), &child) != 0) {
                LeaveOut(childSource, DescribeErrno(errno));
                continue;
            }
            if (S_ISLNK(child.st_mode) && links_ == SymbolicLinks::Followed) {
                if (::stat(childSource.c_str(), &child) != 0) {
                    LeaveOut(childSource, "a symbolic link to nothing");
                    continue;
                }
                if (S_ISDIR(child.st_mode) && folder.chain->Holds(child)) {
                    LeaveOut(childSource, "a symbolic link to a folder that holds it");
                    continue;
                }
            }
            if (Add(childSource, childStored, child) && S_ISDIR(child.st_mode)) {
                auto chain = std::make_shared<const FolderChain>(FolderChain{child.st_dev, child.st_ino, folder.chain});
                subfolders.push_back({childSource, childStored, std::move(chain)});
            }
        }
        pending.insert(pending.end(), std::make_move_iterator(subfolders.rbegin()), std::make_move_iterator(subfolders.rend()));
    }
}

void AddedFiles::LeaveOut(const std::string& source, const std::string& reason) {
    console_.Error(source, "left out: " + reason);
    anyLeftOut_ = true;
}

std::vector<zorvik::rt::com_ptr<archive_addable>> AddedFiles::Addables() {
    std::vector<zorvik::rt::com_ptr<archive_addable>> addables;
    for (const AddedFile& file : files_) {
        addable_description description{.path = zorvik::rt::to_wide(file.stored),
                                        .size = file.size,
                                        .modified = file.modified,
                                        .is_folder = file.folder,
                                        .mode = file.mode,
                                        .symbolic_link_target = zorvik::rt::to_wide(file.linkTarget)};
        std::function<zorvik::rt::com_ptr<IRandomAccessStream>()> content;
        if (!file.folder && file.linkTarget.empty()) {
            content = [source = file.source, failure = readFailure_] {
                // O_NONBLOCK: a file replaced by a FIFO since it was found must not block the read.
                const zorvik::rt::unique_fd opened(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
                if (!opened) {
                    *failure = source + ": " + DescribeErrno(errno);
                    throw zorvik::rt::hresult_error(E_FAIL, *failure);
                }
                try {
                    return zorvik::rt::open_file_stream_on(opened.get(), ABI::Windows::Storage::FileAccessMode::Read);
                } catch (const zorvik::rt::hresult_error& error) {
                    *failure = source + ": " + Describe(error.code());
                    throw;
                }
            };
        }
        addables.push_back(make_archive_addable(std::move(description), std::move(content)));
    }
    return addables;
}

}  // namespace Zorvik::Cli
