#include "cli/AddedFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

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

AddedFiles::AddedFiles(const std::vector<std::string>& paths, const std::string& prefix, Console& console,
                       const std::function<bool(const struct stat&)>& leaveOut)
    : console_(console), leaveOut_(leaveOut) {
    for (const std::string& path : paths) {
        const auto stored = StoredName(path);
        if (!stored) throw CommandError(ExitCode::Usage, path, "a path with \"..\" cannot be stored");
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            LeaveOut(path, DescribeErrno(errno));
            continue;
        }
        const std::string name = Below(prefix, *stored);
        if (!S_ISDIR(info.st_mode)) {
            Add(path, name, info);
        } else if (name.empty() || Add(path, name, info)) {
            AddFolderContent(path, name);
        }
    }
}

bool AddedFiles::Add(const std::string& source, const std::string& stored, const struct stat& info) {
    if (leaveOut_(info)) return false;
    const bool folder = S_ISDIR(info.st_mode);
    if (!folder && !S_ISREG(info.st_mode)) {
        LeaveOut(source, "not a regular file");
        return false;
    }
    if (!folder && ::faccessat(AT_FDCWD, source.c_str(), R_OK, AT_EACCESS) != 0) {
        LeaveOut(source, DescribeErrno(errno));
        return false;
    }
    const auto [taken, added] = byName_.try_emplace(stored, info.st_dev, info.st_ino);
    if (!added) {
        // The same file reached from two of the paths given is added once.
        if (taken->second != std::pair(info.st_dev, info.st_ino)) LeaveOut(source, "another file is stored as " + stored);
        return false;
    }
    files_.push_back({source, stored, folder, folder ? 0 : static_cast<std::uint64_t>(info.st_size), FromTimespec(info.st_mtim),
                      static_cast<std::uint32_t>(info.st_mode)});
    return true;
}

void AddedFiles::AddFolderContent(const std::string& source, const std::string& stored) {
    // An explicit stack: a deep tree must not exhaust the call stack.
    std::vector<std::pair<std::string, std::string>> pending{{source, stored}};
    while (!pending.empty()) {
        const auto [folderSource, folderStored] = std::move(pending.back());
        pending.pop_back();
        const auto names = NamesIn(folderSource);
        if (!names) {
            LeaveOut(folderSource, DescribeErrno(errno));
            continue;
        }
        std::vector<std::pair<std::string, std::string>> subfolders;
        for (const std::string& name : *names) {
            const std::string childSource = folderSource + "/" + name, childStored = Below(folderStored, name);
            struct stat info {};
            if (::lstat(childSource.c_str(), &info) != 0) {
                LeaveOut(childSource, DescribeErrno(errno));
                continue;
            }
            if (S_ISLNK(info.st_mode)) {
                // A link to a file is stored as the file; one to a folder could lead in a circle.
                if (::stat(childSource.c_str(), &info) != 0) {
                    LeaveOut(childSource, "a symbolic link to nothing");
                    continue;
                }
                if (S_ISDIR(info.st_mode)) {
                    LeaveOut(childSource, "a symbolic link to a folder is not followed");
                    continue;
                }
            }
            if (Add(childSource, childStored, info) && S_ISDIR(info.st_mode)) subfolders.emplace_back(childSource, childStored);
        }
        pending.insert(pending.end(), subfolders.rbegin(), subfolders.rend());
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
                                        .mode = file.mode};
        std::function<zorvik::rt::com_ptr<IRandomAccessStream>()> content;
        if (!file.folder) {
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
