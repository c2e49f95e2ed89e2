#include "cli/ExtractionRun.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <stdexcept>

#include "cli/AsyncWait.h"
#include "cli/Failure.h"
#include "cli/FileTime.h"
#include "cli/Interrupt.h"
#include "cli/SequentialStream.h"
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

// Names joined with "/", normalised: the name a file takes in the destination.
std::string JoinedPath(const std::vector<std::wstring>& components) {
    std::wstring path;
    for (const std::wstring& component : components) path += (path.empty() ? L"" : L"/") + component;
    return NormalizedPath(zorvik::rt::to_utf8(path));
}

}  // namespace

ExtractionRun::ExtractionRun(const OpenedArchive& archive, const std::vector<Entry>& entries, PasswordSource& passwords, Console& console,
                             ExtractionSettings settings)
    : archive_(archive),
      entries_(entries),
      passwords_(passwords),
      console_(console),
      settings_(settings),
      links_(settings.destination, settings.linksAsFiles) {
    for (const Entry& entry : entries)
        if (entry.IsSymbolicLink()) linkPaths_.insert(NormalizedPath(entry.path));
}

ExitCode ExtractionRun::Run(const std::vector<const Entry*>& selected) {
    // The topmost selected nodes: a folder brings what is below it, and the run passes over
    // what of that is not selected.
    std::vector<com_ptr<IArchiveItem>> chosen;
    std::set<std::string> selectedPaths;
    for (const Entry* entry : selected) {
        byItem_[entry->item.get()] = entry;
        selectedPaths.insert(entry->path);
    }
    if (selected.size() == entries_.size()) {
        chosen.push_back(com_ptr<IArchiveFolder>::copy_from(archive_.Root()).as<IArchiveItem>());
    } else {
        for (const Entry* entry : selected) {
            const auto slash = entry->path.rfind('/');
            if (slash == std::string::npos || !selectedPaths.count(entry->path.substr(0, slash))) chosen.push_back(entry->item);
        }
    }
    if (chosen.empty()) return ExitCode::Success;

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
    if (settings_.mode == ExtractionMode::Extract && !settings_.toStandardOutput)
        links_.Create(writtenAt_, [this](const Entry& entry, std::optional<std::string> failure) {
            if (failure)
                ReportItem(entry, *failure, ExitCode::Failed);
            else
                outcomes_[&entry] = ItemOutcome{ItemOutcome::Kind::Skipped};
        });
    FinishFolders();
    if (FAILED(failure)) {
        console_.Error(archive_.Name(), (settings_.mode == ExtractionMode::Test ? "test failed: " : "extraction failed: ") + Describe(failure));
        return passwordFailed_ ? ExitCode::Password : ExitCode::Failed;
    }
    ReportUnheard(selected);
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
        open_.push_back(Current{entry});
        return file_stream_answer::into(zorvik::rt::make<SequentialStream>());
    }
    if (settings_.toStandardOutput) {
        // Only a regular file's data goes out; links are passed over.
        if (entry->IsSymbolicLink() || entry->IsHardLink()) {
            outcomes_.try_emplace(entry, ItemOutcome{ItemOutcome::Kind::Skipped});
            return file_stream_answer::skipped();
        }
        Current current{entry};
        current.toStandardOutput = true;
        open_.push_back(std::move(current));
        try {
            return file_stream_answer::into(standardOutput_.Open(*entry));
        } catch (const std::exception& error) {
            open_.pop_back();
            ReportItem(*entry, error.what(), ExitCode::Failed);
            return file_stream_answer::skipped();
        }
    }
    if (const auto refusal = Refusal(*entry)) {
        ReportItem(*entry, "refused: " + *refusal, ExitCode::Failed);
        return file_stream_answer::skipped();
    }
    try {
        std::vector<std::wstring> destination = DestinationOf(*entry);
        ExistingFiles existing = settings_.existing;
        // Flattened, two names meeting are two files, as with a file already there.
        if (!written_.insert(JoinedPath(destination)).second && !settings_.flat) {
            console_.Error(Subject(*entry), "the archive holds this name more than once; the later entry replaces the earlier");
            existing = ExistingFiles::Overwrite;
        }
        if (entry->IsSymbolicLink() || entry->IsHardLink()) return LinkStream(*entry, std::move(destination), existing);
        links_.Forget(destination);
        auto created = settings_.destination->CreateFile(destination, existing);
        if (!created) {  // --skip-existing
            outcomes_.try_emplace(entry, ItemOutcome{ItemOutcome::Kind::Skipped});
            return file_stream_answer::skipped();
        }
        if (entry->mode != 0) created->mode = entry->mode;
        auto stream = zorvik::rt::open_file_stream_on(created->file.get(), FileAccessMode::ReadWrite);
        open_.push_back(Current{entry, std::move(created), std::move(destination), existing});
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

file_stream_answer ExtractionRun::LinkStream(const Entry& entry, std::vector<std::wstring> destination, ExistingFiles existing) {
    Current current{&entry, std::nullopt, std::move(destination), existing};
    current.link = true;
    if (entry.IsHardLink()) {
        open_.push_back(std::move(current));
        return file_stream_answer::into(zorvik::rt::make<SequentialStream>());
    }
    // A target kept as the entry's data is read into memory: it is no longer than a path.
    if (entry.symbolicLinkTarget.empty() && entry.size > PATH_MAX) {
        ReportItem(entry, "refused: its link target is longer than a path can be", ExitCode::Failed);
        return file_stream_answer::skipped();
    }
    current.linkData = std::make_shared<std::string>();
    auto stream = zorvik::rt::make<SequentialStream>([data = current.linkData](std::span<const std::uint8_t> bytes) {
        if (data->size() + bytes.size() > PATH_MAX) throw std::length_error("link target longer than a path");
        data->append(bytes.begin(), bytes.end());
    });
    open_.push_back(std::move(current));
    return file_stream_answer::into(std::move(stream));
}

void ExtractionRun::Folder(IArchiveItem* item) {
    ReportUnexplainedFailure();
    const Entry* entry = Find(item);
    if (!entry) return;
    // Nothing to test in a folder; flattened or on standard output, there are none.
    if (settings_.mode == ExtractionMode::Test || settings_.flat || settings_.toStandardOutput) {
        const auto kind = settings_.mode == ExtractionMode::Test ? ItemOutcome::Kind::Done : ItemOutcome::Kind::Skipped;
        outcomes_.try_emplace(entry, ItemOutcome{kind});
        return;
    }
    if (const auto refusal = Refusal(*entry)) {
        ReportItem(*entry, "refused: " + *refusal, ExitCode::Failed);
        return;
    }
    try {
        settings_.destination->CreateFolder(entry->components);
        folders_.push_back(entry);
        outcomes_.try_emplace(entry, ItemOutcome{ItemOutcome::Kind::Done});
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
        if (succeeded && entry) outcomes_.try_emplace(entry, ItemOutcome{ItemOutcome::Kind::Done});
        return;
    }
    std::optional<Current> current = std::move(*found);
    open_.erase(found);
    if (succeeded) {
        ++filesDone_;
        bytesDone_ += entry->size;
        outcomes_.try_emplace(entry, ItemOutcome{ItemOutcome::Kind::Done});
        try {
            Finish(*current);
        } catch (const RefusedName& error) {
            ReportItem(*entry, std::string("refused: ") + error.what(), ExitCode::Failed);
        } catch (const std::exception& error) {
            if (current->file) DestinationFolder::Remove(*current->file);
            ReportItem(*entry, error.what(), ExitCode::Failed);
        }
        return;
    }
    if (current->toStandardOutput) {
        try {
            standardOutput_.Close(*entry, false);
        } catch (const std::exception&) {
            // Standard output fails again for the next entry, which says so.
        }
    }
    // What was written of an entry that failed is not the entry: it goes, and the report says so.
    const bool removed = current->file.has_value();
    const bool diskFull = removed && DestinationFolder::IsFull(*current->file);
    if (removed) DestinationFolder::Remove(*current->file);
    if (diskFull) StopOnFullOrReadOnly(ENOSPC);
    unexplained_ = Failure{entry, removed, diskFull};
}

void ExtractionRun::Finish(Current& current) {
    const Entry& entry = *current.entry;
    if (current.toStandardOutput) return standardOutput_.Close(entry, true);
    if (current.link && entry.IsHardLink()) return links_.AddHard(entry, current.destination, current.existing);
    if (current.link) {
        std::string target = entry.symbolicLinkTarget.empty() ? *current.linkData : FileSystemName(entry.symbolicLinkTarget);
        if (target.empty()) throw RefusedName("the link has no target");
        if (target.find('\0') != std::string::npos) throw RefusedName("its link target holds a NUL character");
        return links_.AddSymbolic(entry, current.destination, std::move(target), current.existing);
    }
    if (!current.file) return;  // tested
    settings_.destination->Commit(*current.file);
    if (entry.modified != 0) DestinationFolder::SetModified(*current.file, ToTimespec(entry.modified));
    writtenAt_[NormalizedPath(entry.path)] = current.destination;
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

std::optional<std::string> ExtractionRun::Refusal(const Entry& entry) const {
    const std::wstring& path = entry.entryPath;
    if (!path.empty() && (path.front() == L'/' || path.front() == L'\\')) return "absolute path";
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find_first_of(L"/\\", start), path.size());
        if (path.compare(start, end - start, L"..") == 0) return "name holds \"..\"";
        start = end + 1;
    }
    // Below a link of the archive, whatever the order of its entries: the link is made last,
    // and a folder of its name would take its place.
    const std::string normalized = NormalizedPath(entry.path);
    for (std::size_t slash = normalized.find('/'); !linkPaths_.empty() && slash != std::string::npos; slash = normalized.find('/', slash + 1))
        if (linkPaths_.count(normalized.substr(0, slash)))
            return "path goes through a symbolic link (" + Printable(normalized.substr(0, slash)) + ")";
    return std::nullopt;
}

std::vector<std::wstring> ExtractionRun::DestinationOf(const Entry& entry) const {
    if (settings_.flat && !entry.components.empty()) return {entry.components.back()};
    return entry.components;
}

ItemOutcome ExtractionRun::Outcome(const Entry& entry) const {
    const auto found = outcomes_.find(&entry);
    return found == outcomes_.end() ? ItemOutcome{} : found->second;
}

void ExtractionRun::ReportItem(const Entry& entry, const std::string& reason, ExitCode code) {
    ItemOutcome& outcome = outcomes_[&entry];
    if (outcome.kind == ItemOutcome::Kind::Failed) return;
    outcome = ItemOutcome{ItemOutcome::Kind::Failed, reason};
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

void ExtractionRun::ReportUnheard(const std::vector<const Entry*>& selected) {
    const char* const reason = settings_.mode == ExtractionMode::Test ? "not tested: the archive gave no result for it"
                                                                       : "not extracted: the archive gave no result for it";
    for (const Entry* entry : selected)
        if (!entry->folder && !outcomes_.count(entry)) ReportItem(*entry, reason, ExitCode::Failed);
}

void ExtractionRun::StopOnFullOrReadOnly(int error) {
    if (error == ENOSPC || error == EDQUOT || error == EROFS) stopped_ = DescribeErrno(error);
}

void ExtractionRun::DropUnfinishedOutput() {
    for (Current& current : std::exchange(open_, {})) {
        if (current.toStandardOutput) {
            try {
                standardOutput_.Close(*current.entry, false);
            } catch (const std::exception&) {
                // Nothing more goes out.
            }
        }
        if (!current.file) continue;
        DestinationFolder::Remove(*current.file);
        ReportItem(*current.entry, Interrupt::Requested() ? "interrupted (incomplete output removed)" : "not completed (incomplete output removed)",
                   ExitCode::Failed);
    }
}

void ExtractionRun::FinishFolders() {
    // Deepest first, and only now that nothing more is written into them: a folder's mode may
    // forbid writing.
    std::stable_sort(folders_.begin(), folders_.end(),
                     [](const Entry* a, const Entry* b) { return a->components.size() > b->components.size(); });
    for (const Entry* folder : folders_) {
        try {
            // The destination's own mode is the user's, whatever an entry "./" says.
            if (folder->mode != 0 && !DestinationFolder::Names(folder->components).empty())
                settings_.destination->SetFolderMode(folder->components, folder->mode);
            if (folder->modified != 0) settings_.destination->SetFolderModified(folder->components, ToTimespec(folder->modified));
        } catch (const std::exception& error) {
            ReportItem(*folder, error.what(), ExitCode::Failed);
        }
    }
}

}  // namespace Zorvik::Cli
