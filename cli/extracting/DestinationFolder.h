// The folder extraction writes into, and the only way anything is written: every name is one
// path component, walked from the folder with openat and O_NOFOLLOW, so that nothing lands
// outside it, whether through "..", an absolute name or a symbolic link met on the way. A file
// is written under a temporary name beside its own and takes its name only when it is whole,
// so that a file it replaces stays until then and no half-written file ever carries the name.
#pragma once

#include <sys/types.h>
#include <time.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "zorvik/runtime/unique_fd.h"

namespace Zorvik::Cli {

// A name that would lead outside the folder, or that no file can have.
class RefusedName : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file-system call that failed for an item, with its errno value when it has one.
class ItemWriteError : public std::runtime_error {
public:
    explicit ItemWriteError(const std::string& reason, int error = 0) : std::runtime_error(reason), error_(error) {}
    int Error() const noexcept { return error_; }

private:
    int error_;
};

enum class ExistingFiles { Fail, Overwrite, Skip };

class DestinationFolder {
public:
    // An open folder, shared by whoever still needs it (the folders of the current path, the
    // file being written in one), so that no item opens or duplicates a folder the one before
    // it had open.
    using Folder = std::shared_ptr<const zorvik::rt::unique_fd>;

    // A new file under a temporary name, open for writing, with what is needed to give it its
    // name or to remove it again.
    struct CreatedFile {
        zorvik::rt::unique_fd file;
        Folder folder;
        std::string name;
        std::string temporaryName;
        ExistingFiles policy = ExistingFiles::Fail;
        bool replaces = false;       // a file of that name was there
        std::optional<mode_t> mode;  // the archive's; none: what a new file gets
    };

    // A file as the file system knows it, whatever its name.
    struct FileIdentity {
        dev_t device = 0;
        ino_t inode = 0;
        bool operator==(const FileIdentity&) const = default;
    };
    // Says whether an existing file (one this run wrote, say) is replaced whatever the policy.
    using Replaceable = std::function<bool(FileIdentity)>;

    // Creates the folder (and its parents) when missing. Modes from the archive are masked by
    // the umask, without setuid, setgid and sticky bits, unless preservePermissions.
    explicit DestinationFolder(const std::string& path, bool preservePermissions = false);

    // Removes the folders the constructor created, as long as they are empty: for a run that
    // could not start.
    void RemoveCreatedFolders() const noexcept;

    // Creates the folders on the way (components are node names from the root of the archive).
    // None when the file exists and policy is Skip. A file that exists is replaced whatever the
    // policy when replaceable says so of it.
    std::optional<CreatedFile> CreateFile(const std::vector<std::wstring>& components, ExistingFiles policy,
                                          const Replaceable& replaceable = nullptr) const;
    void CreateFolder(const std::vector<std::wstring>& components) const;
    void SetFolderModified(const std::vector<std::wstring>& components, const timespec& modified) const;

    void SetFolderMode(const std::vector<std::wstring>& components, mode_t mode) const;

    // A symbolic link holding target, or a hard link to the regular file at existing; false when
    // the name is taken and the policy is Skip. The link itself is never followed.
    bool CreateSymbolicLink(const std::vector<std::wstring>& components, const std::string& target, ExistingFiles policy,
                            const std::optional<timespec>& modified, const Replaceable& replaceable = nullptr) const;
    bool CreateHardLink(const std::vector<std::wstring>& components, const std::vector<std::wstring>& existing, ExistingFiles policy,
                        const Replaceable& replaceable = nullptr) const;
    // The target of the symbolic link at names, when one is there (the folders on the way are
    // real folders).
    std::optional<std::string> SymbolicLinkAt(const std::vector<std::string>& names) const;
    // The regular file at components, open for reading.
    zorvik::rt::unique_fd OpenFile(const std::vector<std::wstring>& components) const;
    static FileIdentity Identity(int file);

    // The components as file names, without empty ones and "."; refuses ".." and NUL.
    static std::vector<std::string> Names(const std::vector<std::wstring>& components);

    static void SetModified(const CreatedFile& file, const timespec& modified);
    // The file system holding the file has no room left (what failed to be written went there).
    static bool IsFull(const CreatedFile& file) noexcept;
    // Gives the whole file its name, with its mode (what Permitted leaves of the archive's, else
    // what a new file gets), renamed over the file
    // it replaces (when the policy allows one); it is synced first when it replaces one, so that
    // a crash cannot leave the name with neither file.
    void Commit(CreatedFile& file) const;
    static void Remove(CreatedFile& file) noexcept;

private:
    struct OpenedFolder {
        std::string name;
        Folder folder;
    };
    // Folders kept open from the top, at most this deep: deeper ones are opened for each item.
    static constexpr std::size_t kKeptDepth = 32;

    // Opens (creating when asked) each folder of names in turn, starting below the folders that
    // the previous item's path shares.
    Folder OpenFolder(const std::vector<std::string>& names, std::size_t count, bool create) const;
    // What the umask and the setting leave of an archive's mode.
    mode_t Permitted(mode_t mode) const noexcept;

    Folder root_;
    std::vector<std::filesystem::path> created_;  // deepest first
    mode_t creationMask_ = 022;
    bool preservePermissions_ = false;
    // The folders of the previous item's path, each opened from the one above it as the
    // checks require; archives list items folder by folder, so most items open nothing. Used
    // from one thread at a time, as the extraction's callbacks are.
    mutable std::vector<OpenedFolder> opened_;
};

}  // namespace Zorvik::Cli
