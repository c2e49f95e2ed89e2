// The caller-side interfaces of the ABI, implemented over the projection's hooks: the archive
// source, the extraction callback and the update callback. Each also keeps what it saw (a
// password declined or rejected, the entry of a conflict, the reason of a failure), so that
// the Error an operation ends with can say why.
#pragma once

#include <mutex>
#include <vector>
#include <optional>
#include <string>
#include <utility>

#include "zorvik/ArchiveSource.h"
#include "zorvik/Edit.h"
#include "zorvik/Extraction.h"
#include "zorvik/UpdateCallback.h"
#include "zorvik/projection/Hooks.h"

namespace zorvik::detail {

inline std::wstring_view view_of(HSTRING value) noexcept {
    std::uint32_t length = 0;
    const wchar_t* raw = WindowsGetStringRawBuffer(value, &length);
    return {raw, length};
}

// One operation's use of a Password: attempts counted, and whether the answer was missing
// (none at the first ask) or wrong (asked again after one was given).
class password_use {
public:
    // per_block: the engine asks once for each block it decodes (an extraction), so a password
    // given is given again, without asking the rule, until an entry fails (refused()).
    explicit password_use(Password password, bool per_block = false) : password_(std::move(password)), per_block_(per_block) {}

    // A caller-side interface's member: the answer into answer, the password into out.
    HRESULT answer(HSTRING* out, std::int32_t* answer) noexcept {
        if (!out || !answer) return E_POINTER;
        return zorvik::rt::boundary([&] { *answer = static_cast<std::int32_t>(ask(out)); });
    }
    PasswordAnswer ask(HSTRING* out) {
        *out = nullptr;
        if (per_block_ && given_ && !refused_ && last_) {
            *out = zorvik::rt::hstring(zorvik::rt::to_wide(*last_)).detach();
            return PasswordAnswer::Use;
        }
        // The rule had none: a format that asks again (RAR with hidden names asks twice) hears
        // the same without the rule being asked, and the password stays missing, not wrong.
        if (missing_ && !given_) return ++declines_ < kDeclines ? PasswordAnswer::Decline : PasswordAnswer::Cancel;
        refused_ = false;
        const int attempt = ++attempts_;
        std::optional<std::string> answer = password_.answer(attempt);
        if (!answer) {
            if (!given_) {
                missing_ = true;
                return PasswordAnswer::Decline;
            }
            rejected_ = true;
            return PasswordAnswer::Cancel;
        }
        given_ = true;
        *out = zorvik::rt::hstring(zorvik::rt::to_wide(*answer)).detach();
        last_ = std::move(*answer);
        return PasswordAnswer::Use;
    }
    bool given() const noexcept { return given_; }
    // The last password given: the one that worked, once the operation has succeeded.
    const std::optional<std::string>& last() const noexcept { return last_; }
    bool missing() const noexcept { return missing_ && !given_; }
    bool rejected() const noexcept { return rejected_; }
    // An entry failed: the next ask goes to the rule again, as a further attempt.
    void refused() noexcept { refused_ = true; }
    // Why an encrypted entry could not be read.
    ErrorCode failure_code() const noexcept { return given_ ? ErrorCode::WrongPassword : ErrorCode::PasswordRequired; }

private:
    static constexpr int kDeclines = 3;

    Password password_;
    int attempts_ = 0;
    int declines_ = 0;
    bool given_ = false;
    bool missing_ = false;
    bool rejected_ = false;
    bool per_block_ = false;
    bool refused_ = false;
    std::optional<std::string> last_;
};

// IOperationProgress's members over a Progress hook: the total of SetTotal goes with every
// SetCompleted after it.
class progress_use {
public:
    explicit progress_use(Progress progress) : progress_(std::move(progress)) {}

    HRESULT total(std::uint64_t total, std::int32_t* answer) noexcept {
        total_ = total;
        return report(0, answer);
    }
    HRESULT completed(std::uint64_t completed, std::int32_t* answer) noexcept { return report(completed, answer); }

private:
    HRESULT report(std::uint64_t completed, std::int32_t* answer) noexcept {
        if (!answer) return E_POINTER;
        *answer = static_cast<std::int32_t>(ProgressAnswer::Continue);
        if (!progress_) return S_OK;
        return zorvik::rt::boundary([&] { *answer = static_cast<std::int32_t>(progress_(completed, total_)); });
    }

    const Progress progress_;
    std::uint64_t total_ = 0;
};

class source_object final : public zorvik::rt::implements<source_object, Zorvik::IArchiveSource> {
public:
    source_object(std::wstring file_type, std::wstring name, std::wstring path, OpenHooks hooks)
        : file_type_(std::move(file_type)),
          name_(std::move(name)),
          path_(std::move(path)),
          volume_(std::move(hooks.volume)),
          password_(std::move(hooks.password)) {}

    HRESULT get_FileType(HSTRING* value) override { return copy(file_type_, value); }
    HRESULT get_Name(HSTRING* value) override { return copy(name_, value); }
    HRESULT get_Path(HSTRING* value) override { return copy(path_, value); }
    HRESULT get_Reserved(IInspectable** unused) override {
        if (unused) *unused = nullptr;
        return E_NOTIMPL;
    }
    HRESULT RequestPassword(std::int32_t* status, HSTRING* password) override { return password_.answer(password, status); }
    HRESULT GetVolume(HSTRING volume_name, std::int32_t* status, Zorvik::IRandomAccessStream** volume) override {
        if (!status || !volume) return E_POINTER;
        *volume = nullptr;
        *status = static_cast<std::int32_t>(VolumeAnswer::NoMore);
        if (!volume_) return S_OK;
        return zorvik::rt::boundary([&] {
            if (std::optional<Stream> given = volume_(zorvik::rt::to_utf8(view_of(volume_name)))) {
                *volume = zorvik::rt::com_ptr<Zorvik::IRandomAccessStream>(given->com()).detach();
                *status = static_cast<std::int32_t>(VolumeAnswer::Use);
            }
        });
    }
    HRESULT ReportOpenAttempt(bool) override { return S_OK; }

    const password_use& password() const noexcept { return password_; }

private:
    static HRESULT copy(const std::wstring& text, HSTRING* value) noexcept {
        if (!value) return E_POINTER;
        *value = nullptr;
        return zorvik::rt::boundary([&] { *value = zorvik::rt::hstring(text).detach(); });
    }

    const std::wstring file_type_, name_, path_;
    const std::function<std::optional<Stream>(const std::string&)> volume_;
    password_use password_;
};

// Progress alone, for building an archive's tree.
class progress_object final : public zorvik::rt::implements<progress_object, Zorvik::IOperationProgress> {
public:
    explicit progress_object(Progress progress) : progress_(std::move(progress)) {}
    HRESULT SetItemCount(std::uint32_t) override { return S_OK; }
    HRESULT SetTotal(std::uint64_t total, std::int32_t* answer) override { return progress_.total(total, answer); }
    HRESULT SetCompleted(std::uint64_t completed, std::int32_t* answer) override { return progress_.completed(completed, answer); }

private:
    progress_use progress_;
};

// The first entry that failed, and why.
struct entry_failure {
    ErrorCode code = ErrorCode::Other;
    HRESULT hresult = E_FAIL;
    std::string reason;
    std::string entry;
    std::size_t count = 0;
};

class extraction_object final : public zorvik::rt::implements<extraction_object, Zorvik::IExtractionCallback,
                                                              Zorvik::IExtractionPasswordProvider, Zorvik::IOperationProgress> {
public:
    explicit extraction_object(ExtractionHooks hooks)
        : hooks_(std::move(hooks)), password_(hooks_.password, true), progress_(hooks_.progress) {}

    HRESULT GetFileStream(Zorvik::IArchiveItem* item, HSTRING path, Zorvik::IRandomAccessStream** stream, std::int32_t* answer) override {
        if (!stream || !answer) return E_POINTER;
        *stream = nullptr;
        *answer = static_cast<std::int32_t>(ExtractionAnswer::Skip);
        if (!hooks_.file) return S_OK;
        return zorvik::rt::boundary([&] {
            Sink sink =
                hooks_.file(ArchiveFile(zorvik::rt::com_ptr<Zorvik::IArchiveItem>::copy_from(item)), zorvik::rt::to_utf8(view_of(path)));
            if (sink.answer == ExtractionAnswer::Continue)
                *stream = zorvik::rt::com_ptr<Zorvik::IRandomAccessStream>(sink.stream.com()).detach();
            *answer = static_cast<std::int32_t>(sink.answer);
        });
    }
    HRESULT CreateFolder(Zorvik::IArchiveItem* item, HSTRING path, std::int32_t* answer) override {
        if (!answer) return E_POINTER;
        *answer = static_cast<std::int32_t>(ExtractionAnswer::Continue);
        if (!hooks_.folder) return S_OK;
        return zorvik::rt::boundary([&] {
            hooks_.folder(ArchiveFolder(zorvik::rt::com_ptr<Zorvik::IArchiveItem>::copy_from(item)), zorvik::rt::to_utf8(view_of(path)));
        });
    }
    HRESULT ItemCompleted(Zorvik::IArchiveItem* item, bool succeeded) override {
        return zorvik::rt::boundary([&] {
            const ArchiveFile file(zorvik::rt::com_ptr<Zorvik::IArchiveItem>::copy_from(item));
            if (hooks_.completed) hooks_.completed(file, succeeded);
            // A failure the engine did not explain: with no password given, that it had none.
            if (succeeded || hooks_.failed) return;
            if (password_.missing())
                note(item, {ErrorCode::PasswordRequired, Zorvik::kWrongPassword, "encrypted: a password is required", file.path(), 1},
                     false);
            else
                note(item, {ErrorCode::Damaged, kDataError, "cannot be extracted: damaged or unreadable", file.path(), 1}, false);
        });
    }
    HRESULT ItemFailed(Zorvik::IArchiveItem* item, std::int32_t kind, std::int32_t* answer) override {
        if (!answer) return E_POINTER;
        *answer = static_cast<std::int32_t>(FailureAnswer::Continue);
        password_.refused();
        return zorvik::rt::boundary([&] {
            const ArchiveFile file(zorvik::rt::com_ptr<Zorvik::IArchiveItem>::copy_from(item));
            const auto why = static_cast<ExtractionFailure>(kind);
            if (hooks_.failed) {
                *answer = static_cast<std::int32_t>(hooks_.failed(file, why));
                return;
            }
            entry_failure failure{ErrorCode::Damaged, kDataError, "damaged or unreadable", file.path(), 1};
            switch (why) {
            case ExtractionFailure::Encrypted:
                failure.code = password_.failure_code();
                failure.hresult = Zorvik::kWrongPassword;
                failure.reason = failure.code == ErrorCode::WrongPassword ? "wrong password" : "encrypted: a password is required";
                break;
            case ExtractionFailure::UnsupportedMethod:
                failure = {ErrorCode::Other, E_NOTIMPL, "compressed with a method the engine does not support", failure.entry, 1};
                break;
            case ExtractionFailure::DataCheck: failure.reason = "damaged: its data fails its check"; break;
            default: break;
            }
            note(item, std::move(failure), true);
        });
    }
    HRESULT GetPassword(Zorvik::IArchiveItem*, HSTRING* password, std::int32_t* answer) override {
        return password_.answer(password, answer);
    }
    HRESULT SetItemCount(std::uint32_t) override { return S_OK; }
    HRESULT SetTotal(std::uint64_t total, std::int32_t* answer) override { return progress_.total(total, answer); }
    HRESULT SetCompleted(std::uint64_t completed, std::int32_t* answer) override { return progress_.completed(completed, answer); }

    const password_use& password() const noexcept { return password_; }
    // The first entry that failed, with the count of all that did.
    entry_failure failure() const {
        std::lock_guard lock(mutex_);
        if (failures_.empty()) return {};
        entry_failure first = failures_.front().second;
        first.count = failures_.size();
        return first;
    }

private:
    const ExtractionHooks hooks_;
    password_use password_;
    progress_use progress_;
    mutable std::mutex mutex_;
    // One failure per entry: the engine's reason (ItemFailed) over a completion that failed
    // without one, whichever came first.
    std::vector<std::pair<Zorvik::IArchiveItem*, entry_failure>> failures_;

    void note(Zorvik::IArchiveItem* item, entry_failure failure, bool explained) {
        std::lock_guard lock(mutex_);
        for (auto& [known, existing] : failures_)
            if (known == item) {
                if (explained) existing = std::move(failure);
                return;
            }
        failures_.emplace_back(item, std::move(failure));
    }
};

class update_object final
    : public zorvik::rt::implements<update_object, Zorvik::IUpdateCallback, Zorvik::IUpdatePasswordProvider, Zorvik::IOperationProgress,
                                    Zorvik::IUpdateVolumeProvider, Zorvik::IUpdateFailureReport> {
public:
    explicit update_object(UpdateHooks hooks) : hooks_(std::move(hooks)), password_(hooks_.password), progress_(hooks_.progress) {}

    HRESULT ResolveConflict(Zorvik::IFileSystemProperties* item, Zorvik::IArchiveItem* existing, std::int32_t* answer) override {
        if (!answer) return E_POINTER;
        *answer = static_cast<std::int32_t>(ConflictAnswer::Cancel);
        return zorvik::rt::boundary([&] {
            zorvik::rt::hstring path;
            zorvik::rt::check_hresult(item->get_Path(path.put()));
            const std::string new_path = text(path);
            if (hooks_.conflict) {
                *answer = static_cast<std::int32_t>(
                    hooks_.conflict(ArchiveItem(zorvik::rt::com_ptr<Zorvik::IArchiveItem>::copy_from(existing)), new_path));
                return;
            }
            std::lock_guard lock(mutex_);
            if (!conflict_) conflict_ = new_path;
        });
    }
    HRESULT PathBlocked(Zorvik::IArchiveItem* existing) override {
        return zorvik::rt::boundary([&] {
            const std::string path = ArchiveItem(zorvik::rt::com_ptr<Zorvik::IArchiveItem>::copy_from(existing)).path();
            std::lock_guard lock(mutex_);
            if (!blocked_) blocked_ = path;
        });
    }
    HRESULT GetPassword(HSTRING* password, std::int32_t* answer) override { return password_.answer(password, answer); }
    HRESULT SetItemCount(std::uint32_t) override { return S_OK; }
    HRESULT SetTotal(std::uint64_t total, std::int32_t* answer) override { return progress_.total(total, answer); }
    HRESULT SetCompleted(std::uint64_t completed, std::int32_t* answer) override { return progress_.completed(completed, answer); }
    HRESULT GetVolume(std::uint32_t number, std::int32_t* answer, Zorvik::IRandomAccessStream** volume) override {
        if (!answer || !volume) return E_POINTER;
        *volume = nullptr;
        *answer = static_cast<std::int32_t>(VolumeAnswer::NoMore);
        if (!hooks_.volume) return S_OK;
        return zorvik::rt::boundary([&] {
            if (std::optional<Stream> given = hooks_.volume(number)) {
                *volume = zorvik::rt::com_ptr<Zorvik::IRandomAccessStream>(given->com()).detach();
                *answer = static_cast<std::int32_t>(VolumeAnswer::Use);
            }
        });
    }
    HRESULT SetVolumeCount(std::uint32_t count) override {
        volume_count_ = count;
        return S_OK;
    }
    HRESULT ReportFailure(HRESULT reason, HSTRING message) override {
        return zorvik::rt::boundary([&] {
            std::lock_guard lock(mutex_);
            failure_ = {reason, text(message)};
        });
    }

    // The Error an update that did not succeed ends with: outcome is its HRESULT (S_OK for an
    // update that completed with Failure).
    [[noreturn]] void raise(HRESULT outcome, ErrorContext context) const {
        std::lock_guard lock(mutex_);
        if (outcome == E_ABORT && conflict_) {
            context.entry = *conflict_;
            throw Error(ErrorCode::AlreadyExists, kAlreadyExists, "already exists", std::move(context));
        }
        if (outcome == E_ABORT && blocked_) {
            context.entry = *blocked_;
            throw Error(ErrorCode::AlreadyExists, kAlreadyExists, "is a file where a folder is needed", std::move(context));
        }
        if (outcome == E_ABORT && password_.rejected())
            throw Error(ErrorCode::WrongPassword, Zorvik::kWrongPassword, "wrong password", std::move(context));
        if (outcome == Zorvik::kWrongPassword) {
            const bool missing = !password_.given();
            throw Error(missing ? ErrorCode::PasswordRequired : ErrorCode::WrongPassword, outcome,
                        missing ? "the archive's entries are encrypted: a password is required" : "wrong password", std::move(context));
        }
        if (FAILED(outcome)) detail::raise(outcome, std::move(context));
        if (failure_) {
            const ErrorCode code = code_of(failure_->first);
            throw Error(code == ErrorCode::Other ? ErrorCode::CannotWrite : code, failure_->first,
                        failure_->second.empty() ? describe(failure_->first) : failure_->second, std::move(context));
        }
        throw Error(ErrorCode::CannotWrite, E_FAIL, "the update failed", std::move(context));
    }
    std::uint32_t volume_count() const noexcept { return volume_count_; }

private:
    const UpdateHooks hooks_;
    password_use password_;
    progress_use progress_;
    std::uint32_t volume_count_ = 1;
    mutable std::mutex mutex_;
    std::optional<std::string> conflict_, blocked_;
    std::optional<std::pair<HRESULT, std::string>> failure_;
};

}  // namespace zorvik::detail
