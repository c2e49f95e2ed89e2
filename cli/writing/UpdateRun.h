// One writing operation of the component for a command: answers its callbacks (clashes with
// entries already in the archive, the password, progress, Ctrl-C) and turns how it ended into
// the exit code of the contract.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "cli/terminal/Console.h"
#include "cli/terminal/ExitCode.h"
#include "zorvik/UpdateCallback.h"

namespace Zorvik::Cli {

// What to do when something is written where the archive holds an entry of that name.
enum class ConflictPolicy {
    Replace,
    Skip,
    Rename,  // "name(1).ext", "name(2).ext", ...
    Ask,     // on the terminal
    Fail,    // an error for that item; the others are written
    Refuse,  // an error, and nothing is written
};

class UpdateRun {
public:
    using Start = std::function<zorvik::rt::com_ptr<IAsyncOperation<UpdateResult>>(IUpdateCallback* callback)>;

    // password answers the component's one password question. An update that copies the
    // entries of an existing archive (rewrites) asks it also to decode the encrypted ones it
    // must compress again (a solid block of a 7z): such an update that fails after the question
    // failed for want of the right password.
    UpdateRun(std::string archiveName, Console& console, ConflictPolicy policy, std::function<password_answer()> password, bool rewrites);

    // Runs the operation and waits for it. Success or NothingToUpdate come back; every other end
    // is raised as a CommandError (Ctrl-C, a busy archive, a failure, a cancel), explained by
    // contentFailure when the component could not read what was to be added.
    UpdateResult Run(const Start& start, const std::string& contentFailure = {});

    // For an update written in volumes: next gives each volume after the first (a CommandError
    // it raises ends the update with its message), count hears how many the archive fills.
    void TakeVolumesFrom(std::function<zorvik::rt::com_ptr<IRandomAccessStream>(std::uint32_t number)> next,
                         std::function<void(std::uint32_t count)> count);
    // A run the component refuses as not supported (E_NOTIMPL) is a usage error, said so.
    void RefuseUnsupported(std::string reason) { unsupported_ = std::move(reason); }

    std::size_t Replaced() const noexcept { return replaced_; }
    std::size_t Renamed() const noexcept { return renamed_; }
    std::size_t Skipped() const noexcept { return skipped_; }
    // Some item was not written for a reason already reported (Fail).
    bool AnyItemFailed() const noexcept { return itemFailed_; }

private:
    std::int32_t Conflict(IFileSystemProperties* item);
    std::int32_t Answer(ConflictPolicy policy);
    // The user's choice for one clash; may change the policy for the clashes after it.
    ConflictPolicy Ask(const std::string& path);
    std::int32_t Progress(std::uint64_t value, bool total);

    const std::string archiveName_;
    Console& console_;
    ConflictPolicy policy_;
    std::function<password_answer()> password_;
    const bool rewrites_;
    std::optional<bool> passwordGiven_;  // once asked: whether one was given
    std::string unsupported_;
    std::optional<std::string> blocked_;  // the file in the way of a folder
    std::function<zorvik::rt::com_ptr<IRandomAccessStream>(std::uint32_t)> nextVolume_;
    std::function<void(std::uint32_t)> volumeCount_;
    std::optional<CommandError> volumeFailure_;
    std::size_t replaced_ = 0;
    std::size_t renamed_ = 0;
    std::size_t skipped_ = 0;
    bool itemFailed_ = false;
};

}  // namespace Zorvik::Cli
