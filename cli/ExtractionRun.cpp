#include "cli/ExtractionRun.h"

#include <algorithm>
#include <cerrno>

#include "cli/AsyncWait.h"
#include "cli/DiscardStream.h"
#include "cli/Failure.h"
#include "cli/FileTime.h"
#include "cli/Interrupt.h"
#include "cli/Text.h"
#include "zorvik/runtime/streams.h"

namespace Zorvik::Cli {

using ABI::Windows::Storage::FileAccessMode;
using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;

namespace {

// The entry as the archive names it, with "/" between components whatever the format's separator.
std::string Subject(const Entry& entry) {
    if (entry.entryPath.empty()) return entry.path;
    std::wstring path = entry.entryPath;
    std::replace(path.begin(), path.end(), L'\\', L'/');
    return zorvik::rt::to_utf8(path);
}

}  // namespace

ExtractionRun::ExtractionRun(const OpenedArchive& archive, const std::vector<Entry>& entries, PasswordSource& passwords, Console& console,
                             ExtractionSettings settings)
    : archive_(archive), entries_(entries), passwords_(passwords), console_(console), settings_(settings) {
    for (const Entry& entry : entries) byItem_[entry.item.get()] = &entry;
}

ExitCode ExtractionRun::Run(const std::vector<com_ptr<IArchiveItem>>& chosen) {
    extraction_callback_hooks hooks;
    hooks.get_file_stream = [this](IArchiveItem* item, std::wstring_view) { return FileStream(item); };
    hooks.create_folder = [this](IArchiveItem* item, std::wstring_view) { Folder(item); };
    hooks.item_completed = [this](IArchiveItem* item, bool succeeded) { Completed(item, succeeded); };
    hooks.item_failed = [this](IArchiveItem* item, std::int32_t kind) { return Failed(item, kind); };
    hooks.get_password = [this](IArchiveItem*) { return Password(); };
    hooks.set_total = [this](std::uint64_t total) { return Progress(total, true); };
    hooks.set_completed = [this](std::uint64_t done) { return Progress(done, false); };
    const auto callback = make_extraction_callback(std::move(hooks));

    std::vector<IArchiveItem*> items;
    for (const auto& item : chosen) items.push_back(item.get());
    com_ptr<IAsyncOperation<bool>> extraction;
    check_hresult(archive_.Archive()->ExtractAsync(static_cast<std::uint32_t>(items.size()), items.data(),
                                                   callback.as<IExtractionCallback>().get(), extraction.put()));
    bool result = false;
    const HRESULT failure = AwaitOutcome(extraction.get(), result);
    console_.EndProgress();
    ReportUnexplainedFailure();
    DropUnfinishedOutput();

    if (Interrupt::Requested()) {
        console_.Error(archive_.Name(), "interrupted");
        return ExitCode::Interrupted;
    }
    if (stopped_) {
        console_.Error(archive_.Name(), "extraction stopped: " + *stopped_);
        return ExitCode::Failed;
    }
    if (failure == kArchiveBusy) {
        console_.Error(archive_.Name(), Describe(failure));
        return ExitCode::Busy;
    }
    SetFolderTimes();
    if (FAILED(failure)) {
        console_.Error(archive_.Name(), (settings_.mode == ExtractionMode::Test ? "test failed: " : "extraction failed: ") + Describe(failure));
        return passwordFailed_ ? ExitCode::Password : ExitCode::Failed;
    }
    ReportUnheard(chosen);
    if (passwordFailed_) return ExitCode::Password;
    if (!result && !anyFailed_)
        console_.Error(archive_.Name(), settings_.mode == ExtractionMode::Test ? "test failed" : "extraction failed");
    return result && !anyFailed_ ? ExitCode::Success : ExitCode::Failed;
}

file_stream_answer ExtractionRun::FileStream(IArchiveItem* item) {
    ReportUnexplainedFailure();
    if (Interrupt::Requested() || stopped_) return file_stream_answer::canceled();
    const Entry* entry = Find(item);
    if (!entry) return file_stream_answer::skipped();
    if (settings_.mode == ExtractionMode::Test) {
        open_.push_back(Current{entry, std::nullopt});
        return file_stream_answer::into(zorvik::rt::make<DiscardStream>());
    }
    if (const auto refusal = Refusal(*entry)) {
        ReportItem(*entry, "refused: " + *refusal, ExitCode::Failed);
        return file_stream_answer::skipped();
    }
    try {
        ExistingFiles existing = settings_.existing;
        if (!written_.insert(NormalizedPath(entry->path)).second) {
            console_.Error(Subject(*entry), "the archive holds this name more than once; the later entry replaces the earlier");
            existing = ExistingFiles::Overwrite;
        }
        auto created = settings_.destination->CreateFile(entry->components, existing);
        if (!created) {  // --skip-existing
            done_.insert(entry);
            return file_stream_answer::skipped();
        }
        auto stream = zorvik::rt::open_file_stream_on(created->file.get(), FileAccessMode::ReadWrite);
        open_.push_back(Current{entry, std::move(created)});
        return file_stream_answer::into(std::move(stream));
    } catch (const RefusedName& error) {
        ReportItem(*entry, std::string("refused: ") + error.what(), ExitCode::Failed);
    } catch (const ItemWriteError& error) {
        ReportItem(*entry, error.what(), ExitCode::Failed);
        StopOnFullOrReadOnly(error.Error());
    } catch (const zorvik::rt::hresult_error& error) {
        ReportItem(*entry, Describe(error.code()), ExitCode::Failed);
    }
    return stopped_ ? file_stream_answer::canceled() : file_stream_answer::skipped();
}

void ExtractionRun::Folder(IArchiveItem* item) {
    ReportUnexplainedFailure();
    const Entry* entry = Find(item);
    if (!entry || settings_.mode == ExtractionMode::Test) return;
    if (const auto refusal = Refusal(*entry)) {
        ReportItem(*entry, "refused: " + *refusal, ExitCode::Failed);
        return;
    }
    try {
        settings_.destination->CreateFolder(entry->components);
        folders_.push_back(entry);
    } catch (const RefusedName& error) {
        ReportItem(*entry, std::string("refused: ") + error.what(), ExitCode::Failed);
    } catch (const ItemWriteError& error) {
        ReportItem(*entry, error.what(), ExitCode::Failed);
    }
}

void ExtractionRun::Completed(IArchiveItem* item, bool succeeded) {
    ReportUnexplainedFailure();
    const Entry* entry = Find(item);
    const auto found = std::find_if(open_.begin(), open_.end(), [&](const Current& current) { return current.entry == entry; });
    if (found == open_.end()) {
        // A folder, a skipped file or an entry the engine only looked at: nothing of ours is open.
        if (!succeeded && entry) unexplained_ = Failure{entry, false};
        if (succeeded && entry) done_.insert(entry);
        return;
    }
    std::optional<Current> current = std::move(*found);
    open_.erase(found);
    if (succeeded) {
        ++filesDone_;
        done_.insert(entry);
        if (!current->file) return;
        try {
            settings_.destination->Commit(*current->file);
            if (entry->modified != 0) DestinationFolder::SetModified(*current->file, ToTimespec(entry->modified));
        } catch (const ItemWriteError& error) {
            DestinationFolder::Remove(*current->file);
            ReportItem(*entry, error.what(), ExitCode::Failed);
        }
        return;
    }
    // What was written of an entry that failed is not the entry: it goes, and the report says so.
    const bool removed = current->file.has_value();
    const bool diskFull = removed && DestinationFolder::IsFull(*current->file);
    if (removed) DestinationFolder::Remove(*current->file);
    if (diskFull) StopOnFullOrReadOnly(ENOSPC);
    unexplained_ = Failure{entry, removed, diskFull};
}

std::int32_t ExtractionRun::Failed(IArchiveItem* item, std::int32_t kind) {
    const Entry* entry = Find(item);
    bool removed = false;
    bool diskFull = false;
    if (unexplained_ && unexplained_->entry == entry) {
        removed = unexplained_->outputRemoved;
        diskFull = unexplained_->diskFull;
        unexplained_.reset();
    }
    ReportUnexplainedFailure();
    if (entry && diskFull) {
        ReportItem(*entry, DescribeErrno(ENOSPC) + " (incomplete output removed)", ExitCode::Failed);
    } else if (entry) {
        std::string reason;
        ExitCode code = ExitCode::Failed;
        switch (kind) {
        case ExtractionFailure::Encrypted:
            reason = passwordMissing_ ? "password missing" : "wrong password, or the data is damaged";
            code = ExitCode::Password;
            break;
        case ExtractionFailure::UnsupportedMethod: reason = "unsupported compression method"; break;
        case ExtractionFailure::DataCheck: reason = "CRC error: the data is damaged"; break;
        default: reason = "data error: the data is damaged or incomplete"; break;
        }
        ReportItem(*entry, removed ? reason + " (incomplete output removed)" : reason, code);
    }
    return Interrupt::Requested() || stopped_ ? ExtractionAnswer::Cancel : ExtractionAnswer::Continue;
}

password_answer ExtractionRun::Password() {
    if (Interrupt::Requested()) return password_answer::canceled();
    const auto password = passwords_.Get();
    if (!password) {
        passwordMissing_ = true;
        return password_answer::declined();
    }
    return password_answer::given(*password);
}

std::int32_t ExtractionRun::Progress(std::uint64_t value, bool total) {
    if (total)
        console_.SetTotal(value);
    else
        console_.SetCompleted(value);
    return Interrupt::Requested() ? ExtractionAnswer::Cancel : ExtractionAnswer::Continue;
}

const Entry* ExtractionRun::Find(IArchiveItem* item) const {
    const auto found = byItem_.find(item);
    return found == byItem_.end() ? nullptr : found->second;
}

std::optional<std::string> ExtractionRun::Refusal(const Entry& entry) {
    const std::wstring& path = entry.entryPath;
    if (!path.empty() && (path.front() == L'/' || path.front() == L'\\')) return "absolute path";
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find_first_of(L"/\\", start), path.size());
        if (path.compare(start, end - start, L"..") == 0) return "name holds \"..\"";
        start = end + 1;
    }
    return std::nullopt;
}

void ExtractionRun::ReportItem(const Entry& entry, const std::string& reason, ExitCode code) {
    if (!reported_.insert(&entry).second) return;
    if (code == ExitCode::Password)
        passwordFailed_ = true;
    else
        anyFailed_ = true;
    console_.Error(Subject(entry), reason);
}

void ExtractionRun::ReportUnexplainedFailure() {
    const std::optional<Failure> failure = std::exchange(unexplained_, std::nullopt);
    if (!failure) return;
    std::string reason = Interrupt::Requested() ? "interrupted"
                         : failure->diskFull    ? DescribeErrno(ENOSPC)
                         : passwordMissing_     ? "password missing"
                                                : "cannot be extracted";
    if (failure->outputRemoved) reason += " (incomplete output removed)";
    ReportItem(*failure->entry, reason, passwordMissing_ && !Interrupt::Requested() ? ExitCode::Password : ExitCode::Failed);
}

void ExtractionRun::ReportUnheard(const std::vector<com_ptr<IArchiveItem>>& chosen) {
    std::vector<std::string> below;  // paths of the chosen nodes; empty for the root
    for (const auto& item : chosen) {
        const Entry* entry = Find(item.get());
        below.push_back(entry ? entry->path : std::string());
    }
    const char* const reason = settings_.mode == ExtractionMode::Test ? "not tested: the archive gave no result for it"
                                                                       : "not extracted: the archive gave no result for it";
    for (const Entry& entry : entries_) {
        if (entry.folder || done_.count(&entry) || reported_.count(&entry)) continue;
        const bool asked = std::any_of(below.begin(), below.end(), [&](const std::string& path) {
            return path.empty() || entry.path == path || entry.path.rfind(path + "/", 0) == 0;
        });
        if (asked) ReportItem(entry, reason, ExitCode::Failed);
    }
}

void ExtractionRun::StopOnFullOrReadOnly(int error) {
    if (error == ENOSPC || error == EDQUOT || error == EROFS) stopped_ = DescribeErrno(error);
}

void ExtractionRun::DropUnfinishedOutput() {
    for (Current& current : std::exchange(open_, {})) {
        if (!current.file) continue;
        DestinationFolder::Remove(*current.file);
        ReportItem(*current.entry, Interrupt::Requested() ? "interrupted (incomplete output removed)" : "not completed (incomplete output removed)",
                   ExitCode::Failed);
    }
}

void ExtractionRun::SetFolderTimes() {
    // Deepest first, and only now that nothing more is written into them.
    std::stable_sort(folders_.begin(), folders_.end(),
                     [](const Entry* a, const Entry* b) { return a->components.size() > b->components.size(); });
    for (const Entry* folder : folders_) {
        if (folder->modified == 0) continue;
        try {
            settings_.destination->SetFolderModified(folder->components, ToTimespec(folder->modified));
        } catch (const std::exception& error) {
            ReportItem(*folder, error.what(), ExitCode::Failed);
        }
    }
}

}  // namespace Zorvik::Cli
