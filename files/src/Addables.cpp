#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>

#include "files/src/Common.h"
#include "zorvik/files/Files.h"

namespace zorvik::files {

namespace {

std::string Below(const std::string& folder, const std::string& name) { return folder.empty() ? name : folder + "/" + name; }

// "a/./b/" gives "a/b"; "/" and "." give "".
std::string StoredName(const std::string& path) {
    std::string stored;
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string component = path.substr(start, end - start);
        if (component == "..")
            throw Error(ErrorCode::InvalidArgument, E_INVALIDARG, "a name with \"..\" cannot be stored",
                        {"files::addables_from_disk", path, {}});
        if (!component.empty() && component != ".") stored = Below(stored, component);
        start = end + 1;
    }
    return stored;
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

Time TimeOf(const timespec& time) { return Time(Ticks(static_cast<std::int64_t>(time.tv_sec) * 10'000'000 + time.tv_nsec / 100)); }

class Walk {
public:
    explicit Walk(const DiskOptions& options) : options_(options) {}

    void Add(const std::string& source, const std::string& stored, bool top) {
        struct stat info {};
        const bool follow = options_.links == SymbolicLinks::Followed;
        if ((follow ? ::stat : ::lstat)(source.c_str(), &info) != 0) {
            if (top) zorvik::files::detail::raise_errno(errno, {}, "files::addables_from_disk", source);
            return LeaveOut(source, zorvik::files::detail::describe_errno(errno));
        }
        if (S_ISDIR(info.st_mode)) {
            if (!stored.empty()) Folder(stored, info);
            const auto names = NamesIn(source);
            if (!names) return LeaveOut(source, zorvik::files::detail::describe_errno(errno));
            // Folders reached through followed links that hold them would never end.
            if (std::find(chain_.begin(), chain_.end(), std::pair(info.st_dev, info.st_ino)) != chain_.end())
                return LeaveOut(source, "a symbolic link to a folder that holds it");
            chain_.emplace_back(info.st_dev, info.st_ino);
            for (const std::string& name : *names) Add(source + "/" + name, Below(stored, name), false);
            chain_.pop_back();
            return;
        }
        if (stored.empty())
            throw Error(ErrorCode::InvalidArgument, E_INVALIDARG, "a file needs a name to be stored under",
                        {"files::addables_from_disk", source, {}});
        if (S_ISLNK(info.st_mode)) return Link(source, stored, info);
        if (!S_ISREG(info.st_mode)) return LeaveOut(source, "not a regular file");
        File(source, stored, info);
    }

    std::vector<Addable> items;

private:
    void Folder(const std::string& stored, const struct stat& info) {
        items.push_back(Addable::make(
            {.path = stored, .modified = TimeOf(info.st_mtim), .mode = static_cast<std::uint32_t>(info.st_mode), .is_folder = true}, {}));
    }
    void Link(const std::string& source, const std::string& stored, const struct stat& info) {
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(source.c_str(), target.data(), target.size());
        if (length <= 0)
            return LeaveOut(source, length < 0 ? zorvik::files::detail::describe_errno(errno) : "a symbolic link without a target");
        target.resize(static_cast<std::size_t>(length));
        items.push_back(Addable::make({.path = stored,
                                       .size = target.size(),
                                       .modified = TimeOf(info.st_mtim),
                                       .mode = static_cast<std::uint32_t>(info.st_mode),
                                       .link_target = target},
                                      {}));
    }
    void File(const std::string& source, const std::string& stored, const struct stat& info) {
        items.push_back(Addable::make({.path = stored,
                                       .size = static_cast<std::uint64_t>(info.st_size),
                                       .modified = TimeOf(info.st_mtim),
                                       .mode = static_cast<std::uint32_t>(info.st_mode)},
                                      [source] {
                                          // O_NONBLOCK: a file replaced by a FIFO since it was found must not block.
                                          const zorvik::files::detail::fd file(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
                                          if (!file) {
                                              const int error = errno;
                                              throw zorvik::rt::hresult_error(
                                                  error == ENOENT ? zorvik::detail::kFileNotFound : E_ACCESSDENIED,
                                                  source + ": " + zorvik::files::detail::describe_errno(error));
                                          }
                                          return zorvik::rt::open_file_stream_on(file.get(), ABI::Windows::Storage::FileAccessMode::Read);
                                      }));
    }
    void LeaveOut(const std::string& source, const std::string& reason) {
        if (options_.left_out) options_.left_out(source, reason);
    }

    const DiskOptions& options_;
    std::vector<std::pair<dev_t, ino_t>> chain_;
};

}  // namespace

std::vector<Addable> addables_from_disk(const std::string& path, const std::optional<std::string>& archive_path,
                                        const DiskOptions& options) {
    std::string stored;
    if (archive_path) {
        stored = StoredName(*archive_path);
    } else {
        std::filesystem::path given(path);
        if (!given.has_filename()) given = given.parent_path();
        stored = StoredName(given.filename().string());
    }
    Walk walk(options);
    walk.Add(path, stored, true);
    return std::move(walk.items);
}

}  // namespace zorvik::files
