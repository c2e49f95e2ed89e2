// The folder extraction writes into, and the only way anything is written: every name is one
// path component, walked from the folder with openat and O_NOFOLLOW, so that nothing lands
// outside it, whether through "..", an absolute name or a symbolic link met on the way.
#pragma once

#include <time.h>

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

// A file-system call that failed for an item.
class ItemWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class ExistingFiles { Fail, Overwrite, Skip };

class DestinationFolder {
public:
    // A new file, open for writing, with what is needed to remove it again.
    struct CreatedFile {
        zorvik::rt::unique_fd file;
        zorvik::rt::unique_fd folder;
        std::string name;
    };

    // Creates the folder (and its parents) when missing.
    explicit DestinationFolder(const std::string& path);

    // Creates the folders on the way (components are node names from the root of the archive).
    // None when the file exists and policy is Skip.
    std::optional<CreatedFile> CreateFile(const std::vector<std::wstring>& components, ExistingFiles policy) const;
    void CreateFolder(const std::vector<std::wstring>& components) const;
    void SetFolderModified(const std::vector<std::wstring>& components, const timespec& modified) const;

    static void SetModified(const CreatedFile& file, const timespec& modified);
    static void Remove(CreatedFile& file) noexcept;

private:
    struct OpenedFolder {
        std::string name;
        zorvik::rt::unique_fd folder;
    };
    // Folders kept open from the top, at most this deep: deeper ones are opened for each item.
    static constexpr std::size_t kKeptDepth = 32;

    // The components as file names, without empty ones and "."; refuses ".." and NUL.
    static std::vector<std::string> Names(const std::vector<std::wstring>& components);
    // Opens (creating when asked) each folder of names in turn, starting below the folders that
    // the previous item's path shares.
    zorvik::rt::unique_fd OpenFolder(const std::vector<std::string>& names, std::size_t count, bool create) const;

    zorvik::rt::unique_fd root_;
    // The folders of the previous item's path, each opened from the one above it as the
    // checks require; archives list items folder by folder, so most items open nothing. Used
    // from one thread at a time, as the extraction's callbacks are.
    mutable std::vector<OpenedFolder> opened_;
};

}  // namespace Zorvik::Cli
