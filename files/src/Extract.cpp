// Extraction into a folder: every name walked from the folder with openat and O_NOFOLLOW, one
// component at a time, so that nothing lands outside it, whether through "..", an absolute name
// or a symbolic link met on the way; files written under a temporary name beside their own and
// named only when whole; links made last, and only when their target stays inside.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>

#include "files/src/Common.h"
#include "zorvik/files/Files.h"

namespace zorvik::files {

namespace {

using detail::fd;

// A name that cannot be extracted, said in words.
struct Refused {
    std::string reason;
};

// The process's file-creation mask, read without changing it (umask() would, for every thread).
mode_t CreationMask() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    return 022;
}

// The components of an entry's path; refuses "..", NUL and a path that names nothing.
std::vector<std::string> Components(const std::string& path) {
    std::vector<std::string> names;
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        std::string component = path.substr(start, end - start);
        start = end + 1;
        if (component == "..") throw Refused{"its name holds \"..\""};
        if (component.find('\0') != std::string::npos) throw Refused{"its name holds a NUL character"};
        if (!component.empty() && component != ".") names.push_back(std::move(component));
    }
    if (names.empty()) throw Refused{"it has no name"};
    return names;
}

// Whether a link at components pointing to target stays inside the folder.
bool StaysInside(const std::vector<std::string>& components, const std::string& target) {
    if (target.empty() || target.front() == '/') return false;
    std::ptrdiff_t depth = static_cast<std::ptrdiff_t>(components.size()) - 1;
    for (std::size_t start = 0; start <= target.size();) {
        const std::size_t end = std::min(target.find('/', start), target.size());
        const std::string component = target.substr(start, end - start);
        start = end + 1;
        if (component == "..") {
            if (--depth < 0) return false;
        } else if (!component.empty() && component != ".") {
            ++depth;
        }
    }
    return true;
}

class Destination {
public:
    Destination(const std::string& path, const ExtractOptions& options) : options_(options), mask_(CreationMask()) {
        std::error_code ignored;
        std::filesystem::create_directories(path, ignored);
        root_ = fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!root_) detail::raise_errno(errno, "cannot open the destination folder", "files::extract", path);
    }

    // The folder holding the last component, created on the way when asked.
    fd OpenParent(const std::vector<std::string>& names, bool create, std::size_t count) const {
        fd current(::fcntl(root_.get(), F_DUPFD_CLOEXEC, 0));
        for (std::size_t i = 0; i < count; ++i) {
            const char* name = names[i].c_str();
            fd next(::openat(current.get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!next && errno == ENOENT && create) {
                if (::mkdirat(current.get(), name, 0777) != 0 && errno != EEXIST) Fail("cannot create folder " + names[i]);
                next = fd(::openat(current.get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            }
            if (!next) {
                struct stat info {};
                if (::fstatat(current.get(), name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
                    throw Refused{"its path goes through a symbolic link (" + names[i] + ")"};
                if (errno == ENOTDIR) throw Refused{"a file is in the way of folder " + names[i]};
                Fail("cannot open folder " + names[i]);
            }
            current = std::move(next);
        }
        return current;
    }

    void CreateFolder(const std::vector<std::string>& names) const { OpenParent(names, true, names.size()); }

    // False when the name is taken and the policy skips it.
    bool MayTake(int folder, const std::string& name) const {
        struct stat existing {};
        if (::fstatat(folder, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0) return true;
        if (options_.existing == ExistingFiles::Skip) return false;
        if (S_ISDIR(existing.st_mode)) throw Refused{"a folder of that name exists"};
        if (options_.existing == ExistingFiles::Fail) throw Refused{"a file of that name exists"};
        return true;
    }

    static std::string TemporaryName(const std::string& name) {
        static std::mt19937_64 random{std::random_device{}()};
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%016llx.zorvik-part", static_cast<unsigned long long>(random()));
        return "." + name.substr(0, 200) + suffix;
    }

    // Gives what is at temporary its name: renamed over what is there under Overwrite (a link at
    // the name is replaced, never written through), else only while the name is free.
    void GiveName(int folder, const std::string& temporary, const std::string& name) const {
        int renamed = -1;
        if (options_.existing == ExistingFiles::Overwrite) {
            renamed = ::renameat(folder, temporary.c_str(), folder, name.c_str());
        } else {
            renamed = ::renameat2(folder, temporary.c_str(), folder, name.c_str(), RENAME_NOREPLACE);
            if (renamed != 0 && errno == EINVAL && ::linkat(folder, temporary.c_str(), folder, name.c_str(), 0) == 0) {
                ::unlinkat(folder, temporary.c_str(), 0);
                renamed = 0;
            }
        }
        if (renamed == 0) return;
        const int error = errno;
        ::unlinkat(folder, temporary.c_str(), 0);
        if (error == EEXIST) throw Refused{"a file of that name exists"};
        errno = error;
        Fail("cannot give it its name");
    }

    mode_t Permitted(std::uint32_t mode) const noexcept {
        if (mode == 0) return 0666 & ~mask_;
        return options_.preserve_permissions ? mode & 07777 : mode & 0777 & ~mask_;
    }

    [[noreturn]] static void Fail(const std::string& what) { throw Refused{what + ": " + detail::describe_errno(errno)}; }

    const ExtractOptions& options_;

private:
    mode_t mask_;
    fd root_;
};

// A file being written under its temporary name.
struct Pending {
    fd folder;
    fd file;
    std::string name;
    std::string temporary;
    std::string entry;
    std::uint32_t mode = 0;
    std::optional<Time> modified;
};

struct Link {
    std::vector<std::string> names;
    std::string entry;
    std::string target;
    bool hard = false;
};

class Run {
public:
    Run(const Destination& destination, bool keep_going) : destination_(destination), keep_going_(keep_going) {}

    Sink File(const ArchiveFile& file, const std::string& path) {
        const std::string entry = file.path();
        try {
            const std::vector<std::string> names = Components(path);
            const EntryProperties properties = file.properties();
            const std::uint32_t mode = properties ? properties.mode() : 0;
            const std::string hard = properties ? properties.hard_link_target() : std::string();
            const std::string target = properties ? properties.link_target() : std::string();
            if (!hard.empty() || !target.empty() || (mode & S_IFMT) == S_IFLNK) {
                Link link{names, entry, target, !hard.empty()};
                if (link.hard) link.target = hard;
                // 7z and zip keep the target as the entry's data.
                if (link.target.empty()) {
                    Stream data = Stream::memory();
                    std::lock_guard lock(mutex_);
                    link_data_.emplace(file.abi(), std::pair(std::move(link), data));
                    return Sink::into(data);
                }
                std::lock_guard lock(mutex_);
                links_.push_back(std::move(link));
                return Sink::skip();
            }
            Pending pending;
            pending.folder = destination_.OpenParent(names, true, names.size() - 1);
            pending.name = names.back();
            pending.entry = entry;
            pending.mode = mode;
            pending.modified = properties ? properties.modified() : std::nullopt;
            if (!destination_.MayTake(pending.folder.get(), pending.name)) {
                std::lock_guard lock(mutex_);
                ++report.skipped;
                return Sink::skip();
            }
            for (int attempt = 0; !pending.file; ++attempt) {
                pending.temporary = Destination::TemporaryName(pending.name);
                // Owner-only until whole; O_EXCL never follows a symbolic link.
                pending.file =
                    fd(::openat(pending.folder.get(), pending.temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
                if (!pending.file && (errno != EEXIST || attempt == 10)) Destination::Fail("cannot create it");
            }
            Stream stream(zorvik::rt::open_file_stream_on(pending.file.get(), ABI::Windows::Storage::FileAccessMode::ReadWrite));
            std::lock_guard lock(mutex_);
            pending_.emplace(file.abi(), std::move(pending));
            return Sink::into(stream);
        } catch (const Refused& refused) {
            Problem(entry, refused.reason);
            return keep_going_ ? Sink::skip() : Sink::cancel();
        }
    }

    void Folder(const std::string& path) {
        // "." (as tar writes for the folder it was run in) is the destination itself.
        if (!path.empty() && path.find_first_not_of("./") == std::string::npos && path.find("..") == std::string::npos) return;
        try {
            destination_.CreateFolder(Components(path));
            std::lock_guard lock(mutex_);
            ++report.folders;
        } catch (const Refused& refused) {
            Problem(path, refused.reason);
        }
    }

    void Completed(const ArchiveFile& file, bool succeeded) {
        std::unique_lock lock(mutex_);
        if (auto data = link_data_.find(file.abi()); data != link_data_.end()) {
            Link link = std::move(data->second.first);
            const Stream stream = data->second.second;
            link_data_.erase(data);
            lock.unlock();
            if (!succeeded) return;
            link.target = stream.read_text();
            lock.lock();
            links_.push_back(std::move(link));
            return;
        }
        const auto found = pending_.find(file.abi());
        if (found == pending_.end()) return;
        Pending pending = std::move(found->second);
        pending_.erase(found);
        lock.unlock();
        if (!succeeded) {
            ::unlinkat(pending.folder.get(), pending.temporary.c_str(), 0);
            return;  // the engine's failure is told by ItemFailed
        }
        try {
            if (pending.modified) {
                const auto ticks = pending.modified->time_since_epoch().count();
                const timespec times[2] = {{0, UTIME_OMIT},
                                           {static_cast<time_t>(ticks / 10'000'000), static_cast<long>(ticks % 10'000'000) * 100}};
                ::futimens(pending.file.get(), times);
            }
            if (::fchmod(pending.file.get(), destination_.Permitted(pending.mode)) != 0) {
                ::unlinkat(pending.folder.get(), pending.temporary.c_str(), 0);
                Destination::Fail("cannot write it");
            }
            destination_.GiveName(pending.folder.get(), pending.temporary, pending.name);
            lock.lock();
            ++report.files;
        } catch (const Refused& refused) {
            Problem(pending.entry, refused.reason);
        }
    }

    // Links last, so that none is in the way of a file's path.
    void MakeLinks() {
        for (const Link& link : links_) {
            try {
                if (!link.hard && !StaysInside(link.names, link.target))
                    throw Refused{"its link leads outside the folder (" + link.target + ")"};
                const fd folder = destination_.OpenParent(link.names, true, link.names.size() - 1);
                const std::string& name = link.names.back();
                if (!destination_.MayTake(folder.get(), name)) {
                    ++report.skipped;
                    continue;
                }
                const std::string temporary = Destination::TemporaryName(name);
                if (link.hard) {
                    const std::vector<std::string> existing = Components(link.target);
                    const fd from = destination_.OpenParent(existing, false, existing.size() - 1);
                    struct stat info {};
                    if (::fstatat(from.get(), existing.back().c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
                        throw Refused{"its link's target is no file extracted here"};
                    if (::linkat(from.get(), existing.back().c_str(), folder.get(), temporary.c_str(), 0) != 0)
                        Destination::Fail("cannot link it");
                } else if (::symlinkat(link.target.c_str(), folder.get(), temporary.c_str()) != 0) {
                    Destination::Fail("cannot create the link");
                }
                destination_.GiveName(folder.get(), temporary, name);
                ++report.links;
            } catch (const Refused& refused) {
                Problem(link.entry, refused.reason);
            }
        }
    }

    // Temporary files of entries the engine never finished.
    void RemoveUnfinished() {
        for (auto& [item, pending] : pending_) ::unlinkat(pending.folder.get(), pending.temporary.c_str(), 0);
        pending_.clear();
    }

    void Problem(const std::string& entry, const std::string& reason) {
        std::lock_guard lock(mutex_);
        report.problems.push_back({entry, reason});
    }

    ExtractReport report;

private:
    const Destination& destination_;
    const bool keep_going_;
    std::mutex mutex_;
    std::map<Zorvik::IArchiveItem*, Pending> pending_;
    std::map<Zorvik::IArchiveItem*, std::pair<Link, Stream>> link_data_;
    std::vector<Link> links_;
};

}  // namespace

ExtractReport extract(const Archive& archive, const std::string& folder, const ExtractOptions& options,
                      const std::vector<ArchiveItem>& items, bool keep_going) {
    const Destination destination(folder, options);
    Run run(destination, keep_going);
    ExtractionHooks hooks{
        .file = [&run](const ArchiveFile& file, const std::string& path) { return run.File(file, path); },
        .folder = [&run](const ArchiveFolder&, const std::string& path) { run.Folder(path); },
        .completed = [&run](const ArchiveFile& file, bool succeeded) { run.Completed(file, succeeded); },
        .failed = {},
        .password = options.password,
        .progress = options.progress,
    };
    std::optional<Error> failure;
    try {
        if (items.empty())
            archive.extract(std::move(hooks));
        else
            archive.extract(items, std::move(hooks));
    } catch (const Error& error) {
        failure = error;
    }
    run.RemoveUnfinished();
    run.MakeLinks();
    // A refused name ends the run (it is first); otherwise the engine's failure.
    if (!run.report.problems.empty() && !keep_going) {
        const auto& first = run.report.problems.front();
        throw Error(ErrorCode::CannotWrite, E_ACCESSDENIED, first.reason, {"files::extract", archive.name(), first.entry});
    }
    if (failure) {
        if (!keep_going || failure->code() == ErrorCode::Cancelled) throw *failure;
        run.report.problems.push_back({failure->entry(), failure->reason()});
    }
    return run.report;
}

}  // namespace zorvik::files
