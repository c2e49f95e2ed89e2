#include "cli/writing/AddedFiles.h"

#include "cli/terminal/ExitCode.h"

namespace Zorvik::Cli {

AddedFiles::AddedFiles(const std::vector<std::string>& paths, const std::string& prefix, SymbolicLinks links, Console& console,
                       const std::function<bool(const struct stat&)>& leaveOut) {
    zorvik::files::DiskOptions options{
        .links = links,
        .left_out =
            [&console, anyLeftOut = anyLeftOut_](const std::string& path, const std::string& reason) {
                console.Error(path, "left out: " + reason);
                *anyLeftOut = true;
            },
        .excluded = leaveOut,
        // Told on the component's thread; read once the update has ended.
        .unreadable = [failure = readFailure_](const std::string& path, const std::string& reason) { *failure = path + ": " + reason; },
    };
    try {
        files_ = zorvik::files::addables_from_disk(paths, prefix, options);
    } catch (const zorvik::Error& error) {
        if (error.code() != zorvik::ErrorCode::InvalidArgument) throw;
        throw CommandError(ExitCode::Usage, error.archive(), error.reason());
    }
}

}  // namespace Zorvik::Cli
