// What a writing command adds: the files and folders below the paths the user gave, each as
// content for the component with the name it is stored under and its time and mode.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/Console.h"
#include "zorvik/UpdateCallback.h"

namespace Zorvik::Cli {

struct AddedFile {
    std::string source;  // where it is read from
    std::string stored;  // the name in the archive, components joined with "/"
    bool folder = false;
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // ticks since 1601 UTC
    std::uint32_t mode = 0;     // type and permission bits
    std::string linkTarget;     // a symbolic link stored as one: where it points
};

enum class SymbolicLinks {
    Stored,    // as links, whatever they point to
    Followed,  // what they point to is stored in their place
};

class AddedFiles {
public:
    // Every path with what is below it, stored as given (relative, without a leading "/" or
    // "./") below prefix. A path with a ".." component is a usage error (CommandError).
    // Symbolic links, the paths given included, are stored or followed as links says; what
    // cannot be stored (special files, what is gone or unreadable, a followed link to nothing or
    // to a folder that holds it) is reported and left out. leaveOut names files never to add
    // (the archive being written).
    AddedFiles(const std::vector<std::string>& paths, const std::string& prefix, SymbolicLinks links, Console& console,
               const std::function<bool(const struct stat&)>& leaveOut);

    const std::vector<AddedFile>& Files() const noexcept { return files_; }
    // Some paths could not be added.
    bool AnyLeftOut() const noexcept { return anyLeftOut_; }
    // The component's objects for the files, in order. A file that cannot be opened when the
    // component reads it fails the update; the reason is kept for ReadFailure.
    std::vector<zorvik::rt::com_ptr<archive_addable>> Addables();
    const std::string& ReadFailure() const noexcept { return *readFailure_; }

    // "a/./b/" gives "a/b"; "/" and "." give ""; none for a path that leads out with "..".
    static std::optional<std::string> StoredName(const std::string& path);

private:
    // The folders a folder is reached through, itself first: a followed link to one of them
    // would lead round in a circle.
    struct FolderChain {
        dev_t device;
        ino_t inode;
        std::shared_ptr<const FolderChain> parent;
        bool Holds(const struct stat& info) const;
    };

    // False when the name was taken already (by this file from another path given, or by another).
    bool Add(const std::string& source, const std::string& stored, const struct stat& info);
    void AddFolderContent(const std::string& source, const std::string& stored, const struct stat& info);
    void LeaveOut(const std::string& source, const std::string& reason);

    SymbolicLinks links_;
    Console& console_;
    std::function<bool(const struct stat&)> leaveOut_;
    std::vector<AddedFile> files_;
    std::map<std::string, std::pair<dev_t, ino_t>> byName_;
    bool anyLeftOut_ = false;
    std::shared_ptr<std::string> readFailure_ = std::make_shared<std::string>();
};

}  // namespace Zorvik::Cli
