// How a writing command replaces an archive file: the new archive is written to a temporary file
// in the archive's folder (created exclusively, owner-only, named ".NAME.zorvik-XXXXXX"), synced,
// given the original's permission bits and owner, and renamed over the archive only on Commit;
// otherwise it is removed. Other writers are kept out from the moment the archive is opened until
// it has been replaced: they get exit code 5.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>

#include "zorvik/Archive.h"
#include "zorvik/runtime/com_ptr.h"
#include "zorvik/runtime/unique_fd.h"

namespace Zorvik::Cli {

class ArchiveReplacement {
public:
    // path names the archive, which may not exist yet; a symbolic link is followed, so that the
    // file it points to is replaced rather than the link. Failures end the command (CommandError).
    explicit ArchiveReplacement(const std::string& path);
    ArchiveReplacement(const ArchiveReplacement&) = delete;
    ArchiveReplacement& operator=(const ArchiveReplacement&) = delete;
    // Removes the temporary file unless it was committed.
    ~ArchiveReplacement();

    bool Exists() const noexcept { return original_.has_value(); }
    // The archive's path with every link resolved: what the component names its lock after.
    const std::string& RealPath() const noexcept { return realPath_; }
    // The original's device and inode, so that a folder being archived can leave it out; and the
    // temporary file's.
    bool IsArchiveOrTemporary(const struct stat& file) const noexcept;
    // The temporary file, empty, for the component to write.
    zorvik::rt::com_ptr<IRandomAccessStream> Stream() const;
    std::uint64_t WrittenSize() const;

    // Syncs the temporary file and renames it over the archive. A new archive is never put
    // over a file that appeared meanwhile unless replaceExisting.
    void Commit(bool replaceExisting);
    // Commit in its steps, for files named together (a set of volumes): the temporary file given
    // the mode and owner it keeps; synced (after the mode, so that a crash after the rename cannot
    // leave the archive owner-only); renamed; the rename synced with the folder. Only Sync may
    // run beside the others' (Prepare reads the umask by setting it).
    void Prepare();
    void Sync() const;
    void Name(bool replaceExisting);
    void SyncFolder() const;

private:
    std::string name_;  // as the user gave it, for messages
    std::string realPath_;
    std::string folderPath_;
    zorvik::rt::unique_fd folder_;
    zorvik::rt::unique_fd locked_;  // the original, read-only, holding the writers' lock
    std::optional<struct stat> original_;
    std::string temporaryName_;
    zorvik::rt::unique_fd temporary_;
    struct stat temporaryInfo_ {};
    bool committed_ = false;
};

}  // namespace Zorvik::Cli
