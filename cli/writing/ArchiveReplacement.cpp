#include "cli/writing/ArchiveReplacement.h"

#include "cli/terminal/ExitCode.h"
#include "cli/terminal/Interrupt.h"

namespace Zorvik::Cli {

namespace {

// The files layer's failure as the command's, named as the user named the archive.
template <typename Step>
auto AsCommandError(const std::string& name, Step&& step) {
    try {
        return step();
    } catch (const zorvik::Error& error) {
        switch (error.code()) {
        case zorvik::ErrorCode::ArchiveBusy: throw CommandError(ExitCode::Busy, name, error.reason());
        // Only a new archive's name can be taken: by another command, meanwhile.
        case zorvik::ErrorCode::AlreadyExists: throw CommandError(ExitCode::Busy, name, "another command created it meanwhile");
        default: throw CommandError(ExitCode::Failed, name, error.reason());
        }
    }
}

}  // namespace

ArchiveReplacement::ArchiveReplacement(const std::string& path)
    : name_(path), file_(AsCommandError(path, [&] { return std::make_unique<zorvik::files::Replacement>(path); })) {}

zorvik::Stream ArchiveReplacement::Stream() const {
    return AsCommandError(name_, [&] { return file_->stream(); });
}

void ArchiveReplacement::Commit(bool replaceExisting) {
    // A Ctrl-C that came once the archive was written still keeps the old one.
    if (Interrupt::Requested()) throw CommandError(ExitCode::Interrupted, name_, "interrupted");
    AsCommandError(name_, [&] { file_->commit(replaceExisting); });
}

void ArchiveReplacement::Prepare() {
    AsCommandError(name_, [&] { file_->prepare(); });
}

void ArchiveReplacement::Sync() const {
    AsCommandError(name_, [&] { file_->sync(); });
}

void ArchiveReplacement::Name(bool replaceExisting) {
    AsCommandError(name_, [&] { file_->name(replaceExisting); });
}

}  // namespace Zorvik::Cli
