#include "cli/ExtractionRun.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <unordered_map>

#include "cli/AsyncWait.h"
#include "cli/DiscardStream.h"
#include "cli/EntryList.h"
#include "cli/Failure.h"
#include "cli/FileTime.h"
#include "cli/Interrupt.h"
#include "cli/Text.h"
#include "zorvik/runtime/streams.h"

namespace Zorvik::Cli {

using ABI::Windows::Storage::FileAccessMode;
using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;

ExtractionRun::ExtractionRun(const OpenedArchive& archive, PasswordSource& passwords, Console& console, ExtractionSettings settings)
    : archive_(archive), passwords_(passwords), console_(console), settings_(settings) {}

ExtractionRun::Item ExtractionRun::Identify(IArchiveItem* node) {
    Item item{com_ptr<IArchiveItem>::copy_from(node), {}, {}, 0};
    zorvik::rt::hstring path;
    check_hresult(node->GetRelativePath(nullptr, path.put()));
    item.path = path.view();
    com_ptr<IArchiveEntryProperties> properties;
    check_hresult(node->get_Properties(properties.put()));
    if (!properties) return item;
    const auto fileSystem = properties.as<IFileSystemProperties>();
    zorvik::rt::hstring entryPath;
    check_hresult(fileSystem->get_Path(entryPath.put()));
    item.entryPath = entryPath.view();
    DateTime modified{};
    check_hresult(fileSystem->get_DateModified(&modified));
    item.modified = modified.UniversalTime;
    return item;
}

// Names hold no separator: the tree splits paths at both.
std::vector<std::wstring> ExtractionRun::Components(std::wstring_view path) {
    std::vector<std::wstring> components;
    for (std::size_t end = path.find(L'\\'); end != std::wstring_view::npos; end = path.find(L'\\')) {
        components.emplace_back(path.substr(0, end));
        path.remove_prefix(end + 1);
    }
    components.emplace_back(path);
    return components;
}

std::string ExtractionRun::Readable(std::wstring_view path) {
    std::wstring readable(path);
    std::replace(readable.begin(), readable.end(), L'\\', L'/');
    return zorvik::rt::to_utf8(readable);
}

ExitCode ExtractionRun::Run(const std::vector<com_ptr<IArchiveItem>>& chosen) {
    extraction_callback_hooks hooks;
    hooks.get_file_stream = [this](IArchiveItem* item, std::wstring_view) { return FileStream(item); };
    hooks.create_folder = [this](IArchiveItem* item, std::wstring_view) { Folder(item); };
    hooks.item_completed = [this](IArchiveItem* item, bool succeeded) { Completed(item, succeeded); };
    hooks.item_failed = [this](IArchiveItem* item, std::int32_t kind) { return Failed(item, kind); };
    hooks.get_password = [this](IArchiveItem*) { return Password(); };
    hooks.set_item_count = [this](std::uint32_t count) { itemCount_ = count; };
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
    Item described = Identify(item);
    if (settings_.mode == ExtractionMode::Test) {
        open_.push_back(Current{std::move(described), std::nullopt});
        return file_stream_answer::into(zorvik::rt::make<DiscardStream>());
    }
    if (const auto refusal = Refusal(described)) {
        ReportItem(described, "refused: " + *refusal, ExitCode::Failed);
        return file_stream_answer::skipped();
    }
    try {
        // A file this run wrote is one the archive holds twice: the later entry takes its place.
        const auto writtenBefore = [&](DestinationFolder::FileIdentity file) {
            if (!written_.count(file)) return false;
            console_.Error(Readable(described.entryPath.empty() ? described.path : described.entryPath),
                           "the archive holds this name more than once; the later entry replaces the earlier");
            return true;
        };
        auto created = settings_.destination->CreateFile(Components(described.path), settings_.existing, writtenBefore);
        if (!created) return file_stream_answer::skipped();  // --skip-existing
        auto stream = zorvik::rt::open_file_stream_on(created->file.get(), FileAccessMode::ReadWrite);
        open_.push_back(Current{std::move(described), std::move(created)});
        return file_stream_answer::into(std::move(stream));
    } catch (const RefusedName& error) {
        ReportItem(described, std::string("refused: ") + error.what(), ExitCode::Failed);
    } catch (const ItemWriteError& error) {
        ReportItem(described, error.what(), ExitCode::Failed);
        StopOnFullOrReadOnly(error.Error());
    } catch (const zorvik::rt::hresult_error& error) {
        ReportItem(described, Describe(error.code()), ExitCode::Failed);
    }
    return stopped_ ? file_stream_answer::canceled() : file_stream_answer::skipped();
}

void ExtractionRun::Folder(IArchiveItem* item) {
    ReportUnexplainedFailure();
    if (settings_.mode == ExtractionMode::Test) return;
    Item described = Identify(item);
    if (const auto refusal = Refusal(described)) {
        ReportItem(described, "refused: " + *refusal, ExitCode::Failed);
        return;
    }
    try {
        settings_.destination->CreateFolder(Components(described.path));
        if (described.modified != 0) {
            const auto depth = static_cast<std::size_t>(std::count(described.path.begin(), described.path.end(), L'\\'));
            folders_.push_back({std::move(described.path), depth, described.modified});
        }
    } catch (const RefusedName& error) {
        ReportItem(described, std::string("refused: ") + error.what(), ExitCode::Failed);
    } catch (const ItemWriteError& error) {
        ReportItem(described, error.what(), ExitCode::Failed);
    }
}

void ExtractionRun::Completed(IArchiveItem* item, bool succeeded) {
    ReportUnexplainedFailure();
    const auto found = std::find_if(open_.begin(), open_.end(), [&](const Current& current) { return current.item.item.get() == item; });
    if (found == open_.end()) {
        // A folder, a skipped file or an entry the engine only looked at: nothing of ours is open.
        Item described = Identify(item);
        heard_.push_back(HeardKey(described.path));
        if (!succeeded) unexplained_ = Failure{std::move(described), false};
        return;
    }
    Current current = std::move(*found);
    open_.erase(found);
    heard_.push_back(HeardKey(current.item.path));
    if (succeeded) {
        ++filesDone_;
        if (!current.file) return;
        try {
            settings_.destination->Commit(*current.file);
            written_.insert(DestinationFolder::Identity(*current.file));
            if (current.item.modified != 0) DestinationFolder::SetModified(*current.file, ToTimespec(current.item.modified));
        } catch (const ItemWriteError& error) {
            DestinationFolder::Remove(*current.file);
            ReportItem(current.item, error.what(), ExitCode::Failed);
        }
        return;
    }
    // What was written of an entry that failed is not the entry: it goes, and the report says so.
    const bool removed = current.file.has_value();
    const bool diskFull = removed && DestinationFolder::IsFull(*current.file);
    if (removed) DestinationFolder::Remove(*current.file);
    if (diskFull) StopOnFullOrReadOnly(ENOSPC);
    unexplained_ = Failure{std::move(current.item), removed, diskFull};
}

std::int32_t ExtractionRun::Failed(IArchiveItem* item, std::int32_t kind) {
    bool removed = false;
    bool diskFull = false;
    if (unexplained_ && unexplained_->item.item.get() == item) {
        removed = unexplained_->outputRemoved;
        diskFull = unexplained_->diskFull;
        unexplained_.reset();
    }
    ReportUnexplainedFailure();
    if (item && diskFull) {
        ReportItem(Identify(item), DescribeErrno(ENOSPC) + " (incomplete output removed)", ExitCode::Failed);
    } else if (item) {
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
        ReportItem(Identify(item), removed ? reason + " (incomplete output removed)" : reason, code);
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

std::optional<std::string> ExtractionRun::Refusal(const Item& item) {
    if (static_cast<std::size_t>(std::count(item.path.begin(), item.path.end(), L'\\')) >= kMaxDepth)
        return fmt::format("nested deeper than {} folders", kMaxDepth);
    const std::wstring& path = item.entryPath;
    if (!path.empty() && (path.front() == L'/' || path.front() == L'\\')) return "absolute path";
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find_first_of(L"/\\", start), path.size());
        if (path.compare(start, end - start, L"..") == 0) return "name holds \"..\"";
        start = end + 1;
    }
    return std::nullopt;
}

void ExtractionRun::ReportItem(const Item& item, const std::string& reason, ExitCode code) {
    if (!reported_.emplace(item.item.get(), item.item).second) return;
    if (code == ExitCode::Password)
        passwordFailed_ = true;
    else
        anyFailed_ = true;
    // The entry as the archive names it, with "/" between components whatever the format's separator.
    console_.Error(Readable(item.entryPath.empty() ? item.path : item.entryPath), reason);
}

void ExtractionRun::ReportUnexplainedFailure() {
    const std::optional<Failure> failure = std::exchange(unexplained_, std::nullopt);
    if (!failure) return;
    std::string reason = Interrupt::Requested() ? "interrupted"
                         : failure->diskFull    ? DescribeErrno(ENOSPC)
                         : passwordMissing_     ? "password missing"
                                                : "cannot be extracted";
    if (failure->outputRemoved) reason += " (incomplete output removed)";
    ReportItem(failure->item, reason, passwordMissing_ && !Interrupt::Requested() ? ExitCode::Password : ExitCode::Failed);
}

void ExtractionRun::ReportUnheard(const std::vector<com_ptr<IArchiveItem>>& chosen) {
    // Every entry asked for had its result: nothing to look for.
    if (heard_.size() >= itemCount_) return;
    std::vector<std::string> below;  // paths of the chosen nodes; empty for the root
    for (const auto& item : chosen) below.push_back(Readable(Identify(item.get()).path));
    std::sort(heard_.begin(), heard_.end());
    std::unordered_map<std::size_t, std::uint32_t> taken;  // results matched so far, by key
    const char* const reason = settings_.mode == ExtractionMode::Test ? "not tested: the archive gave no result for it"
                                                                       : "not extracted: the archive gave no result for it";
    WalkEntries(archive_.Root(), [&](const Entry& entry) {
        if (entry.folder) return true;
        const bool asked = std::any_of(below.begin(), below.end(), [&](const std::string& path) {
            return path.empty() || entry.path == path || entry.path.rfind(path + "/", 0) == 0;
        });
        if (!asked) return true;
        Item described = Identify(entry.item);
        // Entries of one path share a key: each result heard stands for one of them.
        const std::size_t key = HeardKey(described.path);
        const auto [first, last] = std::equal_range(heard_.begin(), heard_.end(), key);
        if (std::uint32_t& used = taken[key]; used < last - first)
            ++used;
        else
            ReportItem(described, reason, ExitCode::Failed);
        return true;
    });
}

void ExtractionRun::StopOnFullOrReadOnly(int error) {
    if (error == ENOSPC || error == EDQUOT || error == EROFS) stopped_ = DescribeErrno(error);
}

void ExtractionRun::DropUnfinishedOutput() {
    for (Current& current : std::exchange(open_, {})) {
        if (!current.file) continue;
        DestinationFolder::Remove(*current.file);
        ReportItem(current.item, Interrupt::Requested() ? "interrupted (incomplete output removed)" : "not completed (incomplete output removed)",
                   ExitCode::Failed);
    }
}

void ExtractionRun::SetFolderTimes() {
    // Deepest first, and only now that nothing more is written into them.
    std::stable_sort(folders_.begin(), folders_.end(), [](const FolderTime& a, const FolderTime& b) { return a.depth > b.depth; });
    for (const FolderTime& folder : folders_) {
        try {
            settings_.destination->SetFolderModified(Components(folder.path), ToTimespec(folder.modified));
        } catch (const std::exception& error) {
            console_.Error(Readable(folder.path), error.what());
            anyFailed_ = true;
        }
    }
}

}  // namespace Zorvik::Cli
