// zorvik::files: what applications need around the archive component and the component never
// does itself, since it never names a file: open an archive by path (its volumes found beside
// it), extract into a folder safely, replace an archive file safely, add files from disk.
// Library libzorvik-files (CMake Zorvik::files, pkg-config zorvik-files).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zorvik/Zorvik.h"

namespace zorvik::files {

// ---- Opening ------------------------------------------------------------------------------

// The archive at path: a regular file, read in place, named to the component by its real path
// so that every name of one file shares its lock; the further volumes of a set are the files
// of the names the format asks for, in the same folder. NotFound, IsAFolder, NotAnArchive,
// PasswordRequired, WrongPassword or Damaged when it cannot be opened.
Archive open(const std::string& path, OpenHooks hooks = {});
inline Archive open(const std::string& path, Password password) { return open(path, OpenHooks{.password = std::move(password)}); }

// ---- Extracting ---------------------------------------------------------------------------

enum class ExistingFiles { Fail, Overwrite, Skip };

struct ExtractOptions {
    ExistingFiles existing = ExistingFiles::Fail;
    Password password = {};
    Progress progress = {};
    // Modes as the archive has them, setuid, setgid and sticky bits included; otherwise masked
    // by the umask and without those bits.
    bool preserve_permissions = false;
};

// What an extraction wrote, and what it could not.
struct ExtractReport {
    std::size_t files = 0;
    std::size_t folders = 0;
    std::size_t links = 0;
    std::size_t skipped = 0;  // existing files left as they were
    struct Problem {
        std::string entry;
        std::string reason;
    };
    std::vector<Problem> problems;
};

// Extracts items (every entry when empty) into folder, created when missing. Nothing is
// written outside it: every name is walked from the folder one component at a time without
// following a symbolic link, ".." and absolute names are refused, and a link is made only
// when its target stays inside. Each file is written under a temporary name beside its own
// and takes its name only once it is whole. Entries that fail are in the report; the first
// failure is raised as an Error once the run has ended, unless keep_going.
ExtractReport extract(const Archive& archive, const std::string& folder, const ExtractOptions& options = {},
                      const std::vector<ArchiveItem>& items = {}, bool keep_going = false);

// ---- Replacing ----------------------------------------------------------------------------

// Writing an archive file safely: the new archive goes into a temporary file beside it (named
// ".NAME.zorvik-XXXXXX", created exclusively, owner-only), which commit() syncs, gives the
// original's mode (and owner, where allowed) and renames over it. Without a commit, the
// temporary file is removed and the original stays as it was. While it exists, the original is
// locked (flock) against other writers that use this class: they get ArchiveBusy.
class Replacement {
public:
    // path may name no file yet (a new archive); a symbolic link is followed.
    explicit Replacement(const std::string& path);
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;
    ~Replacement();

    bool exists() const noexcept { return original_.has_value(); }
    // Where the archive is, with every link resolved.
    const std::string& real_path() const noexcept { return real_path_; }
    // The temporary file, for an update or a create to write.
    Stream stream() const;
    // What has been written into it so far.
    std::uint64_t written_size() const;
    // The original or the temporary file, so that a folder tree being archived can leave them out.
    bool holds(const struct stat& file) const noexcept;
    // A new archive is never put over a file that appeared meanwhile unless replace_existing.
    void commit(bool replace_existing = false);

    // commit() in its steps, for files named together (a set of volumes): the temporary file
    // given the mode and owner it keeps; synced (after the mode, so that a crash after the rename
    // cannot leave the archive owner-only); renamed (AlreadyExists when a new archive meets a file
    // that appeared meanwhile); the rename synced with the folder. Only sync() may run beside the
    // others' (prepare() reads the umask by setting it).
    void prepare();
    void sync() const;
    void name(bool replace_existing);
    void sync_folder() const;

private:
    std::string name_;
    std::string real_path_;
    int folder_ = -1;
    int locked_ = -1;
    std::optional<struct stat> original_;
    std::string temporary_name_;
    int temporary_ = -1;
    struct stat temporary_info_ {};
    bool committed_ = false;
};

// A new archive at path holding items, written as Replacement writes: an existing file is
// AlreadyExists unless replace_existing. With a volume size, the volumes are path.001,
// path.002 ..., named together once the last is whole.
void create(const std::string& path, const std::vector<Addable>& items, const CompressionOptions& options = {},
            bool replace_existing = false);

// ---- Adding from disk ---------------------------------------------------------------------

enum class SymbolicLinks { Stored, Followed };

struct DiskOptions {
    SymbolicLinks links = SymbolicLinks::Stored;
    // Told of what cannot be stored (special files, what is gone or unreadable, a followed link
    // to nothing or to a folder that holds it) and is left out.
    std::function<void(const std::string& path, const std::string& reason)> left_out = {};
    // Files never to add, silently (the archive being written, when it lies in the tree).
    std::function<bool(const struct stat& file)> excluded = {};
    // Told when a file cannot be opened once the engine asks for its data; the update then fails.
    std::function<void(const std::string& path, const std::string& reason)> unreadable = {};
};

// The file or folder tree at path as entries: each folder, then what it holds, sorted by name,
// then the folders below it in that order. archive_path is where path is stored (none: its own
// name; "": the root, for a folder's content alone). Names are stored byte for byte; size, time
// and mode come from the file system; a symbolic link is stored as a link unless links are
// followed. A file is read only when the engine asks for its data.
std::vector<Addable> addables_from_disk(const std::string& path, const std::optional<std::string>& archive_path = std::nullopt,
                                        const DiskOptions& options = {});

// Several paths, each stored below prefix under its path as given (without "/", "./" or empty
// components): a path with a ".." component is InvalidArgument, one that cannot be read is left
// out. The same file reached through two paths is added once; another file for a name already
// taken is left out.
std::vector<Addable> addables_from_disk(const std::vector<std::string>& paths, const std::string& prefix, const DiskOptions& options = {});

// A path as it is stored: "a/./b/" gives "a/b"; "/" and "." give ""; none for a path with a ".."
// component.
std::optional<std::string> stored_name(const std::string& path);

}  // namespace zorvik::files
