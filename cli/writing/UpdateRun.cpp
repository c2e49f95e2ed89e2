#include "cli/writing/UpdateRun.h"

#include <fmt/format.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "cli/reading/AsyncWait.h"
#include "cli/terminal/ExitCode.h"
#include "cli/terminal/Failure.h"
#include "cli/terminal/Interrupt.h"
#include "cli/terminal/Text.h"

namespace Zorvik::Cli {

using zorvik::rt::check_hresult;

namespace {

constexpr std::int32_t kProgressCancel = 1;

// One line typed on the terminal; none at the end of input or on Ctrl-C, which may land on
// another thread: the flag is looked at between short waits for input.
std::optional<std::string> TypedLine() {
    std::string line;
    for (;;) {
        if (Interrupt::Requested()) return std::nullopt;
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&input, 1, 100);
        if (ready < 0 && errno != EINTR) return std::nullopt;
        if (ready <= 0) continue;
        char c = 0;
        if (::read(STDIN_FILENO, &c, 1) <= 0) return std::nullopt;
        if (c == '\n') return line;
        line.push_back(c);
    }
}

std::string StoredPath(IFileSystemProperties* item) {
    zorvik::rt::hstring path;
    check_hresult(item->get_Path(path.put()));
    std::string text = zorvik::rt::to_utf8(path.view());
    text.erase(0, std::min(text.find_first_not_of('/'), text.size()));
    return text;
}

}  // namespace

UpdateRun::UpdateRun(std::string archiveName, Console& console, ConflictPolicy policy, std::function<password_answer()> password,
                     bool rewrites)
    : archiveName_(std::move(archiveName)), console_(console), policy_(policy), password_(std::move(password)), rewrites_(rewrites) {}

UpdateResult UpdateRun::Run(const Start& start, const std::string& contentFailure) {
    update_callback_hooks hooks;
    hooks.resolve_conflict = [this](IFileSystemProperties* item, IArchiveItem*) { return Conflict(item); };
    hooks.path_blocked = [this](IArchiveItem* existing) {
        zorvik::rt::hstring path;
        check_hresult(existing->get_Path(path.put()));
        blocked_ = zorvik::rt::to_utf8(path.view());
    };
    hooks.get_password = [this] {
        if (Interrupt::Requested()) return password_answer::canceled();
        password_answer answer = password_();
        passwordGiven_ = answer.status == UpdatePasswordAnswer::Use;
        return answer;
    };
    hooks.get_volume = [this](std::uint32_t number) {
        if (Interrupt::Requested()) return volume_answer::canceled();
        if (!nextVolume_) return volume_answer::unavailable();
        try {
            return volume_answer::given(nextVolume_(number));
        } catch (const CommandError& error) {
            volumeFailure_ = error;
            return volume_answer::unavailable();
        }
    };
    hooks.set_volume_count = [this](std::uint32_t count) {
        if (volumeCount_) volumeCount_(count);
    };
    hooks.set_total = [this](std::uint64_t total) { return Progress(total, true); };
    hooks.set_completed = [this](std::uint64_t done) { return Progress(done, false); };
    const auto callback = make_update_callback(std::move(hooks));

    const auto operation = start(callback.get());
    UpdateResult result = UpdateResult::Failure;
    const HRESULT failure = AwaitOutcome(operation.get(), result);
    console_.EndProgress();
    if (Interrupt::Requested()) throw CommandError(ExitCode::Interrupted, archiveName_, "interrupted");
    if (volumeFailure_) throw *volumeFailure_;
    if (blocked_)
        throw CommandError(ExitCode::Failed, archiveName_, "nothing written: the file " + *blocked_ + " stands where a folder is needed");
    if (failure == E_ABORT)
        throw CommandError(ExitCode::Failed, archiveName_, itemFailed_ ? "nothing written" : "canceled, nothing written");
    if (failure == kArchiveBusy) throw CommandError(ExitCode::Busy, archiveName_, Describe(failure));
    if (failure == E_NOTIMPL && !unsupported_.empty()) throw CommandError(ExitCode::Usage, archiveName_, unsupported_);
    // The engine's own failures come as a result, without an error of their own.
    const bool engineFailed = SUCCEEDED(failure) && result == UpdateResult::Failure;
    if (engineFailed && rewrites_ && passwordGiven_ && contentFailure.empty()) {
        throw CommandError(ExitCode::Password, archiveName_,
                           *passwordGiven_ ? "nothing written: wrong password, or the data is damaged"
                                           : "nothing written: password missing (give --password or set ZORVIK_PASSWORD)");
    }
    if (failure == kWrongPassword)
        throw CommandError(ExitCode::Password, archiveName_,
                           passwordGiven_.value_or(false) ? "wrong password" : "password missing (give --password or set ZORVIK_PASSWORD)");
    if (FAILED(failure)) {
        const std::string reason = contentFailure.empty() ? Describe(failure) : "cannot read " + contentFailure;
        throw CommandError(ExitCode::Failed, archiveName_, "nothing written: " + reason);
    }
    if (result == UpdateResult::Failure)
        throw CommandError(ExitCode::Failed, archiveName_, "nothing written: the archive engine failed to write it");
    return result;
}

void UpdateRun::TakeVolumesFrom(std::function<zorvik::rt::com_ptr<IRandomAccessStream>(std::uint32_t)> next,
                                std::function<void(std::uint32_t)> count) {
    nextVolume_ = std::move(next);
    volumeCount_ = std::move(count);
}

std::int32_t UpdateRun::Conflict(IFileSystemProperties* item) {
    const std::string path = StoredPath(item);
    const bool asked = policy_ == ConflictPolicy::Ask;
    const ConflictPolicy policy = asked ? Ask(path) : policy_;
    // A cancel typed by the user needs no report.
    if (policy == ConflictPolicy::Fail || (policy == ConflictPolicy::Refuse && !asked)) {
        console_.Error(path, "exists in " + archiveName_ + (policy == ConflictPolicy::Fail ? " (see --on-conflict)" : ""));
        itemFailed_ = true;
    }
    return Answer(policy);
}

std::int32_t UpdateRun::Answer(ConflictPolicy policy) {
    switch (policy) {
    case ConflictPolicy::Replace: ++replaced_; return ConflictAnswer::Replace;
    case ConflictPolicy::Rename: ++renamed_; return ConflictAnswer::AddUnderOtherName;
    case ConflictPolicy::Skip:
    case ConflictPolicy::Fail: ++skipped_; return ConflictAnswer::Skip;
    case ConflictPolicy::Ask:
    case ConflictPolicy::Refuse: break;
    }
    return ConflictAnswer::Cancel;
}

ConflictPolicy UpdateRun::Ask(const std::string& path) {
    return console_.Exclusive([&] {
        for (;;) {
            // Names come from the archive and the file system: escaped, as in every message.
            fmt::print(stderr, "zorvik: {} exists in {}: [r]eplace, [s]kip, re[n]ame, [c]ancel (capital: the same for all)? ",
                       Printable(path), Printable(archiveName_));
            std::fflush(stderr);
            const auto line = TypedLine();
            if (!line) {
                std::fputs("\n", stderr);
                return ConflictPolicy::Refuse;
            }
            const std::string answer = line->substr(0, std::min(line->find_first_of(" \t\r"), line->size()));
            if (answer.size() != 1) continue;
            const char choice = answer[0];
            const bool forAll = std::isupper(static_cast<unsigned char>(choice));
            ConflictPolicy policy = ConflictPolicy::Ask;
            switch (std::tolower(static_cast<unsigned char>(choice))) {
            case 'r': policy = ConflictPolicy::Replace; break;
            case 's': policy = ConflictPolicy::Skip; break;
            case 'n': policy = ConflictPolicy::Rename; break;
            case 'c': return ConflictPolicy::Refuse;
            default: continue;
            }
            if (forAll) policy_ = policy;
            return policy;
        }
    });
}

std::int32_t UpdateRun::Progress(std::uint64_t value, bool total) {
    if (total)
        console_.SetTotal(value);
    else
        console_.SetCompleted(value);
    return Interrupt::Requested() ? kProgressCancel : 0;
}

}  // namespace Zorvik::Cli
