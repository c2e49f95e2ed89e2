// What the caller answers, as enums, and the hooks it hands to operations: plain callables in
// small structs whose members all default, and one Password rule for opening, extracting and
// updating.
//
// Hooks run on the operation's threads (the runtime's pool), one call at a time, never on the
// thread that started the operation; what they touch must be safe to reach from there. A hook
// that throws ends the operation, which then raises what it threw.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "zorvik/Extraction.h"
#include "zorvik/Update.h"
#include "zorvik/VolumeUpdate.h"
#include "zorvik/projection/Items.h"
#include "zorvik/projection/Streams.h"

namespace zorvik {

// Answer to a request for a password, wherever it comes from.
enum class PasswordAnswer : std::int32_t {
    Use = Zorvik::UpdatePasswordAnswer::Use,
    Cancel = Zorvik::UpdatePasswordAnswer::Cancel,
    Decline = Zorvik::UpdatePasswordAnswer::NoPassword,
};
static_assert(static_cast<std::int32_t>(PasswordAnswer::Use) == Zorvik::ExtractionAnswer::Continue &&
              static_cast<std::int32_t>(PasswordAnswer::Cancel) == Zorvik::ExtractionAnswer::Cancel &&
              static_cast<std::int32_t>(PasswordAnswer::Decline) == Zorvik::ExtractionAnswer::NoPassword);

// Answer to a request for a further volume.
enum class VolumeAnswer : std::int32_t {
    Use = Zorvik::VolumeAnswer::Use,
    Cancel = Zorvik::VolumeAnswer::Cancel,
    NoMore = Zorvik::VolumeAnswer::NoMore,
};

// Answer to a file about to be extracted.
enum class ExtractionAnswer : std::int32_t {
    Continue = Zorvik::ExtractionAnswer::Continue,
    Cancel = Zorvik::ExtractionAnswer::Cancel,
    Skip = Zorvik::ExtractionAnswer::Skip,
};

// Answer to an entry that failed to extract.
enum class FailureAnswer : std::int32_t {
    Continue = Zorvik::ExtractionAnswer::Continue,
    Cancel = Zorvik::ExtractionAnswer::Cancel,
    Retry = Zorvik::ExtractionAnswer::Retry,
};

enum class ExtractionFailure : std::int32_t {
    Other = Zorvik::ExtractionFailure::Other,
    Encrypted = Zorvik::ExtractionFailure::Encrypted,
    UnsupportedMethod = Zorvik::ExtractionFailure::UnsupportedMethod,
    DataCheck = Zorvik::ExtractionFailure::DataCheck,
};

// Answer to a new entry whose path an existing one has.
enum class ConflictAnswer : std::int32_t {
    Replace = Zorvik::ConflictAnswer::Replace,
    Skip = Zorvik::ConflictAnswer::Skip,
    Cancel = Zorvik::ConflictAnswer::Cancel,
    CheckAgain = Zorvik::ConflictAnswer::CheckAgain,
    AddUnderOtherName = Zorvik::ConflictAnswer::AddUnderOtherName,
};

// Answer to progress; IOperationProgress takes 1 as "stop".
enum class ProgressAnswer : std::int32_t { Continue = 0, Cancel = 1 };

// Where a password comes from: none, a fixed one, or a callable asked with the attempt number
// (1 for the first ask of an operation) that answers none to give up. The same rule serves the
// archive's open, its extractions and its updates. Asked again within one operation means the
// previous answer was wrong.
class Password {
public:
    using Ask = std::function<std::optional<std::string>(int attempt)>;

    Password() = default;
    Password(std::string fixed) : fixed_(std::move(fixed)) {}
    Password(const char* fixed) : fixed_(std::string(fixed)) {}
    Password(Ask ask) : ask_(std::move(ask)) {}
    template <typename F>
    requires std::is_invocable_r_v < std::optional<std::string>, F,
    int > Password(F ask) : ask_(Ask(std::move(ask))) {}

    bool empty() const noexcept { return !fixed_ && !ask_; }
    // What to answer at attempt; a fixed password is given once only, since a second ask means
    // it was wrong.
    std::optional<std::string> answer(int attempt) const {
        if (ask_) return ask_(attempt);
        if (fixed_ && attempt == 1) return fixed_;
        return std::nullopt;
    }

private:
    std::optional<std::string> fixed_;
    Ask ask_;
};

// Progress of a long operation: completed and total bytes (total 0 until known).
using Progress = std::function<ProgressAnswer(std::uint64_t completed, std::uint64_t total)>;

// Where an extracted file goes: a stream, or nowhere (skipped), or the end of the extraction.
struct Sink {
    ExtractionAnswer answer = ExtractionAnswer::Skip;
    Stream stream = {};

    static Sink into(Stream stream) { return {ExtractionAnswer::Continue, std::move(stream)}; }
    static Sink skip() { return {ExtractionAnswer::Skip, {}}; }
    static Sink cancel() { return {ExtractionAnswer::Cancel, {}}; }
};

// Hooks of an extraction or a test. Without file, every file is skipped; without failed, a
// failure is remembered and raised once the extraction has ended (naming the first entry).
struct ExtractionHooks {
    // path is relative to the parent of the item that was chosen, with "/".
    std::function<Sink(const ArchiveFile& file, const std::string& path)> file = {};
    std::function<void(const ArchiveFolder& folder, const std::string& path)> folder = {};
    std::function<void(const ArchiveFile& file, bool succeeded)> completed = {};
    std::function<FailureAnswer(const ArchiveFile& file, ExtractionFailure why)> failed = {};
    Password password = {};
    Progress progress = {};
};

// Hooks of an update. Without conflict, a new entry at the path of an existing one fails the
// update with AlreadyExists, naming it.
struct UpdateHooks {
    std::function<ConflictAnswer(const ArchiveItem& existing, const std::string& new_path)> conflict = {};
    Password password = {};
    Progress progress = {};
    // Volume number (2 for the second) of an update written in volumes.
    std::function<std::optional<Stream>(std::uint32_t number)> volume = {};
};

// Hooks of an open: the password of an archive that needs one, and the further volumes of a
// set (by the name the format gives them; none when not there).
struct OpenHooks {
    Password password = {};
    std::function<std::optional<Stream>(const std::string& volume_name)> volume = {};
};

}  // namespace zorvik
