// What a writing command adds: the files and folders below the paths the user gave, each as
// content for the component with the name it is stored under and its time and mode, as
// zorvik::files::addables_from_disk finds them; what it leaves out is said on the console.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/terminal/Console.h"
#include "zorvik/files/Files.h"

namespace Zorvik::Cli {

using zorvik::files::SymbolicLinks;

class AddedFiles {
public:
    // Every path with what is below it, stored as given (relative, without a leading "/" or
    // "./") below prefix. A path with a ".." component is a usage error (CommandError).
    // Symbolic links, the paths given included, are stored or followed as links says; what
    // cannot be stored is reported and left out. leaveOut names files never to add (the
    // archive being written).
    AddedFiles(const std::vector<std::string>& paths, const std::string& prefix, SymbolicLinks links, Console& console,
               const std::function<bool(const struct stat&)>& leaveOut);

    const std::vector<zorvik::Addable>& Addables() const noexcept { return files_; }
    std::size_t Count() const noexcept { return files_.size(); }
    // Exactly one file, and no folder.
    bool OneFile() const { return files_.size() == 1 && !files_.front().is_folder(); }
    // Some paths could not be added.
    bool AnyLeftOut() const noexcept { return *anyLeftOut_; }
    // Why the component could not read a file it asked for ("PATH: reason"), once it did.
    const std::string& ReadFailure() const noexcept { return *readFailure_; }

private:
    std::shared_ptr<bool> anyLeftOut_ = std::make_shared<bool>(false);
    std::shared_ptr<std::string> readFailure_ = std::make_shared<std::string>();
    std::vector<zorvik::Addable> files_;
};

}  // namespace Zorvik::Cli
