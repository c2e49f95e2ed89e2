#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <map>
#include <memory>

#include "files/src/Common.h"
#include "zorvik/files/Files.h"

namespace zorvik::files {

namespace {

constexpr const char* kMember = "files::addables_from_disk";

std::string Below(const std::string& folder, const std::string& name) { return folder.empty() ? name : folder + "/" + name; }

std::string StoredOrThrow(const std::string& path) {
    const auto stored = stored_name(path);
    if (!stored) throw Error(ErrorCode::InvalidArgument, E_INVALIDARG, "a path with \"..\" cannot be stored", {kMember, path, {}});
    return *stored;
}

// Sorted, so that an archive does not depend on the order of the disk.
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

Time TimeOf(const timespec& time) { return Time(Ticks(static_cast<std::int64_t>(time.tv_sec) * 10'000'000 + time.tv_nsec / 100)); }

class Walk {
public:
    explicit Walk(const DiskOptions& options) : options_(options) {}

    // One path as given: what stat says of it (links followed or not, as the options say),
    // false when it cannot be read (told to left_out).
    bool Stat(const std::string& source, struct stat& info) {
        // A link given as "link/" is followed, as the system resolves that name.
        if ((options_.links == SymbolicLinks::Followed ? ::stat : ::lstat)(source.c_str(), &info) == 0) return true;
        LeaveOut(source, detail::describe_errno(errno));
        return false;
    }

    void AddPath(const std::string& source, const std::string& stored, const struct stat& info) {
        if (!S_ISDIR(info.st_mode)) {
            Add(source, stored, info);
        } else if (stored.empty() || Add(source, stored, info)) {
            AddFolderContent(source, stored, info);
        }
    }

    std::vector<Addable> items;

private:
    // The folders a folder is reached through, itself first: a followed link to one of them
    // would lead round in a circle.
    struct FolderChain {
        dev_t device;
        ino_t inode;
        std::shared_ptr<const FolderChain> parent;
        bool Holds(const struct stat& info) const {
            for (const FolderChain* folder = this; folder; folder = folder->parent.get())
                if (folder->device == info.st_dev && folder->inode == info.st_ino) return true;
            return false;
        }
    };

    // False when the name was taken already (by this file from another path given, or by another).
    bool Add(const std::string& source, const std::string& stored, const struct stat& info) {
        if (options_.excluded && options_.excluded(info)) return false;
        const bool folder = S_ISDIR(info.st_mode), link = S_ISLNK(info.st_mode);
        if (!folder && !link && !S_ISREG(info.st_mode)) {
            LeaveOut(source, "not a regular file");
            return false;
        }
        std::string link_target;
        if (link) {
            const auto target = LinkTarget(source);
            if (!target || target->empty()) {
                LeaveOut(source, target ? "a symbolic link without a target" : detail::describe_errno(errno));
                return false;
            }
            link_target = *target;
        } else if (!folder && ::faccessat(AT_FDCWD, source.c_str(), R_OK, AT_EACCESS) != 0) {
            LeaveOut(source, detail::describe_errno(errno));
            return false;
        }
        const auto [taken, added] = by_name_.try_emplace(stored, info.st_dev, info.st_ino);
        if (!added) {
            // The same file reached from two of the paths given is added once.
            if (taken->second != std::pair(info.st_dev, info.st_ino)) LeaveOut(source, "another file is stored as " + stored);
            return false;
        }
        const Addable::Description description{.path = stored,
                                               .size = folder ? 0
                                                       : link ? link_target.size()
                                                              : static_cast<std::uint64_t>(info.st_size),
                                               .modified = TimeOf(info.st_mtim),
                                               .mode = static_cast<std::uint32_t>(info.st_mode),
                                               .is_folder = folder,
                                               .link_target = std::move(link_target)};
        items.push_back(Addable::make(description, folder || link ? nullptr : Content(source)));
        return true;
    }

    std::function<zorvik::rt::com_ptr<IRandomAccessStream>()> Content(const std::string& source) const {
        return [source, unreadable = options_.unreadable] {
            // O_NONBLOCK: a file replaced by a FIFO since it was found must not block the read.
            const detail::fd file(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
            if (!file) {
                const int error = errno;
                const std::string reason = detail::describe_errno(error);
                if (unreadable) unreadable(source, reason);
                throw zorvik::rt::hresult_error(error == ENOENT ? zorvik::detail::kFileNotFound : E_ACCESSDENIED, source + ": " + reason);
            }
            return zorvik::rt::open_file_stream_on(file.get(), ABI::Windows::Storage::FileAccessMode::Read);
        };
    }

    void AddFolderContent(const std::string& source, const std::string& stored, const struct stat& info) {
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
                LeaveOut(folder.source, detail::describe_errno(errno));
                continue;
            }
            std::vector<Pending> subfolders;
            for (const std::string& name : *names) {
                const std::string child_source = folder.source + "/" + name, child_stored = Below(folder.stored, name);
                struct stat child {};
                if (::lstat(child_source.c_str(), &child) != 0) {
                    LeaveOut(child_source, detail::describe_errno(errno));
                    continue;
                }
                if (S_ISLNK(child.st_mode) && options_.links == SymbolicLinks::Followed) {
                    if (::stat(child_source.c_str(), &child) != 0) {
                        LeaveOut(child_source, "a symbolic link to nothing");
                        continue;
                    }
                    if (S_ISDIR(child.st_mode) && folder.chain->Holds(child)) {
                        LeaveOut(child_source, "a symbolic link to a folder that holds it");
                        continue;
                    }
                }
                if (Add(child_source, child_stored, child) && S_ISDIR(child.st_mode)) {
                    auto chain = std::make_shared<const FolderChain>(FolderChain{child.st_dev, child.st_ino, folder.chain});
                    subfolders.push_back({child_source, child_stored, std::move(chain)});
                }
            }
            pending.insert(pending.end(), std::make_move_iterator(subfolders.rbegin()), std::make_move_iterator(subfolders.rend()));
        }
    }

    void LeaveOut(const std::string& source, const std::string& reason) {
        if (options_.left_out) options_.left_out(source, reason);
    }

    const DiskOptions& options_;
    std::map<std::string, std::pair<dev_t, ino_t>> by_name_;
};

}  // namespace

std::optional<std::string> stored_name(const std::string& path) {
    std::string stored;
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string component = path.substr(start, end - start);
        if (component == "..") return std::nullopt;
        if (!component.empty() && component != ".") stored = Below(stored, component);
        start = end + 1;
    }
    return stored;
}

std::vector<Addable> addables_from_disk(const std::string& path, const std::optional<std::string>& archive_path,
                                        const DiskOptions& options) {
    std::string stored;
    if (archive_path) {
        stored = StoredOrThrow(*archive_path);
    } else {
        std::filesystem::path given(path);
        if (!given.has_filename()) given = given.parent_path();
        stored = StoredOrThrow(given.filename().string());
    }
    // The one path asked for must be there.
    struct stat info {};
    if ((options.links == SymbolicLinks::Followed ? ::stat : ::lstat)(path.c_str(), &info) != 0)
        detail::raise_errno(errno, {}, kMember, path);
    if (!S_ISDIR(info.st_mode) && stored.empty())
        throw Error(ErrorCode::InvalidArgument, E_INVALIDARG, "a file needs a name to be stored under", {kMember, path, {}});
    Walk walk(options);
    walk.AddPath(path, stored, info);
    return std::move(walk.items);
}

std::vector<Addable> addables_from_disk(const std::vector<std::string>& paths, const std::string& prefix, const DiskOptions& options) {
    Walk walk(options);
    for (const std::string& path : paths) {
        const std::string stored = Below(prefix, StoredOrThrow(path));
        struct stat info {};
        if (walk.Stat(path, info)) walk.AddPath(path, stored, info);
    }
    return std::move(walk.items);
}

}  // namespace zorvik::files
