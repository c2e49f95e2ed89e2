// How a writing command replaces an archive file: as zorvik::files::Replacement does (a temporary
// file beside it, synced, given the original's mode and owner, renamed over it only on Commit,
// removed otherwise; other writers kept out meanwhile), with its failures as the command's:
// exit code 5 for a busy archive, and a Ctrl-C before the rename keeps the old archive.
#pragma once

#include <sys/stat.h>

#include <string>

#include "zorvik/files/Files.h"

namespace Zorvik::Cli {

class ArchiveReplacement {
public:
    // path names the archive, which may not exist yet; a symbolic link is followed, so that the
    // file it points to is replaced rather than the link. Failures end the command (CommandError).
    explicit ArchiveReplacement(const std::string& path);

    bool Exists() const noexcept { return file_->exists(); }
    // The archive's path with every link resolved: what the component names its lock after.
    const std::string& RealPath() const noexcept { return file_->real_path(); }
    // The original or the temporary file, so that a folder being archived can leave them out.
    bool IsArchiveOrTemporary(const struct stat& file) const noexcept { return file_->holds(file); }
    // The temporary file, empty, for the component to write.
    zorvik::Stream Stream() const;
    std::uint64_t WrittenSize() const noexcept { return file_->written_size(); }

    // Syncs the temporary file and renames it over the archive. A new archive is never put
    // over a file that appeared meanwhile unless replaceExisting.
    void Commit(bool replaceExisting);
    // Commit in its steps, for files named together (see files::Replacement::prepare).
    void Prepare();
    void Sync() const;
    void Name(bool replaceExisting);
    void SyncFolder() const { file_->sync_folder(); }

private:
    std::string name_;  // as the user gave it, for messages
    std::unique_ptr<zorvik::files::Replacement> file_;
};

}  // namespace Zorvik::Cli
