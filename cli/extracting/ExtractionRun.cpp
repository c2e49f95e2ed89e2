#include "cli/extracting/ExtractionRun.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <stdexcept>

#include "cli/reading/AsyncWait.h"
#include "cli/terminal/Failure.h"
#include "cli/reading/FileTime.h"
#include "cli/terminal/Interrupt.h"
#include "cli/reading/SequentialStream.h"
#include "cli/terminal/Text.h"
#include "zorvik/EntryIndex.h"
#include "zorvik/ExtractionThreads.h"
#include "zorvik/runtime/streams.h"

namespace Zorvik::Cli {

using ABI::Windows::Storage::FileAccessMode;
using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;

ExtractionRun::ExtractionRun(const OpenedArchive& archive, PasswordSource& passwords, Console& console, ExtractionSettings settings)
    : archive_(archive),
      passwords_(passwords),
      console_(console),
      settings_(std::move(settings)),
      commits_(settings_.destination, [this](Item& item, const CommitQueue::Outcome& outcome) { Settled(item, outcome); }),
      links_(settings_.destination, settings_.linksAsFiles) {}

// Names hold no "/": the tree splits paths there.
std::vector<std::wstring> ExtractionRun::Components(std::wstring_view path) {
    std::vector<std::wstring> components;
    for (std::size_t end = path.find(L'/'); end != std::wstring_view::npos; end = path.find(L'/')) {
        components.emplace_back(path.substr(0, end));
        path.remove_prefix(end + 1);
    }
    components.emplace_back(path);
    return components;
}

std::string ExtractionRun::Readable(std::wstring_view path) { return zorvik::rt::to_utf8(path); }

ExitCode ExtractionRun::Run(const std::vector<zorvik::ArchiveItem>& chosen) {
    extraction_callback_hooks hooks;
    hooks.get_file_stream = [this](IArchiveItem* item, std::wstring_view) { return FileStream(item); };
    hooks.create_folder = [this](IArchiveItem* item, std::wstring_view) { Folder(item); };
    hooks.item_completed = [this](IArchiveItem* item, bool succeeded) { Completed(item, succeeded); };
    hooks.item_failed = [this](IArchiveItem* item, std::int32_t kind) { return Failed(item, kind); };
    hooks.get_password = [this](IArchiveItem*) { return Password(); };
    hooks.set_item_count = [this](std::uint32_t count) { heard_.Expect(count); };
    hooks.set_total = [this](std::uint64_t total) { return Progress(total, true); };
    hooks.set_completed = [this](std::uint64_t done) { return Progress(done, false); };
    const auto callback = make_extraction_callback(std::move(hooks));

    // Entries decoded on several threads end in any order: what is said of them waits for the
    // entries before them, to be said in the archive's order, as one thread says it.
    if (settings_.threads != 0) archive_.Archive().set_extraction_threads(settings_.threads);
    if (archive_.Archive().extraction_threads() > 1) order_.emplace(ExpectedIndices(chosen));

    std::vector<IArchiveItem*> items;
    for (const auto& item : chosen) items.push_back(item.abi());
    com_ptr<IAsyncOperation<bool>> extraction;
    check_hresult(archive_.Archive().abi()->ExtractAsync(static_cast<std::uint32_t>(items.size()), items.data(),
                                                         callback.as<IExtractionCallback>().get(), extraction.put()));
    bool result = false;
    const HRESULT failure = AwaitOutcome(extraction.get(), result);
    commits_.Settle(true);
    FinishPending();
    if (order_) order_->Flush();
    order_.reset();
    console_.EndProgress();
    ReportUnexplainedFailure();
    DropUnfinishedOutput();

    if (Interrupt::Requested()) {
        console_.Error(archive_.Name(), "interrupted");
        return ExitCode::Interrupted;
    }
    if (stopped_) {
        // The entry it stopped at has said why.
        console_.Error(archive_.Name(), "extraction stopped: the destination takes nothing more");
        return ExitCode::Failed;
    }
    if (failure == kArchiveBusy) {
        console_.Error(archive_.Name(), Describe(failure));
        return ExitCode::Busy;
    }
    CreateLinks();
    FinishFolders();
    if (FAILED(failure)) {
        console_.Error(archive_.Name(),
                       (settings_.mode == ExtractionMode::Test ? "test failed: " : "extraction failed: ") + Describe(failure));
        return passwordFailed_ ? ExitCode::Password : ExitCode::Failed;
    }
    ReportUnheard(chosen);
    if (passwordFailed_) return ExitCode::Password;
    if (!result && !anyFailed_)
        console_.Error(archive_.Name(), settings_.mode == ExtractionMode::Test ? "test failed" : "extraction failed");
    return result && !anyFailed_ ? ExitCode::Success : ExitCode::Failed;
}

file_stream_answer ExtractionRun::FileStream(IArchiveItem* node) {
    ReportUnexplainedFailure();
    FinishPending();
    if (Interrupt::Requested() || stopped_) return file_stream_answer::canceled();
    Item item = Identify(node);
    if (Excluded(item)) return file_stream_answer::skipped();
    if (settings_.mode == ExtractionMode::Test) {
        open_.push_back(Current{std::move(item)});
        return file_stream_answer::into(zorvik::rt::make<SequentialStream>());
    }
    if (settings_.toStandardOutput) {
        // Only a regular file's data goes out; links are passed over.
        if (item.IsSymbolicLink() || item.IsHardLink()) {
            Tell(item, ItemResult::Kind::Skipped);
            return file_stream_answer::skipped();
        }
        try {
            auto stream = standardOutput_.Open(node);
            Current current{std::move(item)};
            current.toStandardOutput = true;
            open_.push_back(std::move(current));
            return file_stream_answer::into(std::move(stream));
        } catch (const std::exception& error) {
            ReportItem(item, error.what(), ExitCode::Failed);
            return file_stream_answer::skipped();
        }
    }
    if (const auto refusal = Refusal(item)) {
        ReportItem(item, "refused: " + *refusal, ExitCode::Failed);
        return file_stream_answer::skipped();
    }
    try {
        std::vector<std::wstring> destination = DestinationOf(item);
        if (item.IsSymbolicLink() || item.IsHardLink()) return LinkStream(std::move(item), std::move(destination), settings_.existing);
        links_.Forget(destination);
        std::wstring commitKey = commits_.SettleOn(destination);
        // A file this run wrote is one the archive holds twice: the later entry takes its place.
        // Flattened, two names meeting are two files, as with a file already there.
        const auto writtenBefore = [&](DestinationFolder::FileIdentity file) {
            if (settings_.flat || !written_.count(file)) return false;
            Say(item.index, [this, name = Readable(item.entryPath.empty() ? item.path : item.entryPath)] {
                console_.Error(name, "the archive holds this name more than once; the later entry replaces the earlier");
            });
            return true;
        };
        auto created = settings_.destination->CreateFile(destination, settings_.existing, writtenBefore);
        if (!created) {  // --skip-existing
            Tell(item, ItemResult::Kind::Skipped);
            return file_stream_answer::skipped();
        }
        if (item.mode != 0) created->mode = item.mode;
        auto stream = zorvik::rt::open_file_stream_on(created->file.get(), FileAccessMode::ReadWrite);
        Current current{std::move(item), std::move(created), std::move(destination)};
        current.commitKey = std::move(commitKey);
        open_.push_back(std::move(current));
        return file_stream_answer::into(std::move(stream));
    } catch (const RefusedName& error) {
        ReportItem(item, std::string("refused: ") + error.what(), ExitCode::Failed);
    } catch (const ItemWriteError& error) {
        ReportItem(item, error.what(), ExitCode::Failed);
        StopOnFullOrReadOnly(error.Error());
    } catch (const zorvik::rt::hresult_error& error) {
        ReportItem(item, Describe(error.code()), ExitCode::Failed);
    }
    return stopped_ ? file_stream_answer::canceled() : file_stream_answer::skipped();
}

file_stream_answer ExtractionRun::LinkStream(Item item, std::vector<std::wstring> destination, ExistingFiles existing) {
    Current current{std::move(item), std::nullopt, std::move(destination), existing};
    current.link = true;
    if (current.item.IsHardLink()) {
        open_.push_back(std::move(current));
        return file_stream_answer::into(zorvik::rt::make<SequentialStream>());
    }
    // A target kept as the entry's data is read into memory: it is no longer than a path.
    if (current.item.symbolicLinkTarget.empty() && current.item.size > PATH_MAX) {
        ReportItem(current.item, "refused: its link target is longer than a path can be", ExitCode::Failed);
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

void ExtractionRun::Folder(IArchiveItem* node) {
    ReportUnexplainedFailure();
    FinishPending();
    Item item = Identify(node);
    if (Excluded(item)) return;
    // Nothing to test in a folder; flattened or on standard output, there are none.
    if (settings_.mode == ExtractionMode::Test || settings_.flat || settings_.toStandardOutput) {
        Tell(item, settings_.mode == ExtractionMode::Test ? ItemResult::Kind::Done : ItemResult::Kind::Skipped);
        return;
    }
    if (const auto refusal = Refusal(item)) {
        ReportItem(item, "refused: " + *refusal, ExitCode::Failed);
        return;
    }
    try {
        const std::vector<std::wstring> components = Components(item.path);
        commits_.SettleOn(components);
        settings_.destination->CreateFolder(components);
        if (item.mode == 0 && item.modified == 0) {
            Tell(item, ItemResult::Kind::Done);
            return;
        }
        const auto depth = static_cast<std::size_t>(std::count(item.path.begin(), item.path.end(), L'/'));
        folders_.push_back({std::move(item.path), depth, item.mode, item.modified, item.index});
    } catch (const RefusedName& error) {
        ReportItem(item, std::string("refused: ") + error.what(), ExitCode::Failed);
    } catch (const ItemWriteError& error) {
        ReportItem(item, error.what(), ExitCode::Failed);
    }
}

void ExtractionRun::Completed(IArchiveItem* node, bool succeeded) {
    ReportUnexplainedFailure();
    FinishPending();
    const auto found = std::find_if(open_.begin(), open_.end(), [&](const Current& current) { return current.item.item.abi() == node; });
    if (found == open_.end()) {
        // A folder, a skipped file or an entry the engine only looked at: nothing of ours is open.
        Item item = Identify(node);
        heard_.Heard(item.path);
        pending_.emplace(item.index, nullptr);
        if (!succeeded && !Excluded(item)) unexplained_ = Failure{std::move(item), false};
        return;
    }
    Current current = std::move(*found);
    open_.erase(found);
    heard_.Heard(current.item.path);
    const std::uint32_t index = current.item.index;
    if (succeeded) {
        ++filesDone_;
        bytesDone_ += current.item.size;
        // Links are made in the order they were added: out of order, each is added in its turn.
        if (current.link && order_) {
            pending_.emplace(index, [this, link = std::make_shared<Current>(std::move(current))] { FinishWhole(*link); });
            return;
        }
        // A file waiting for its name is finished once it has it.
        if (!FinishWhole(current)) pending_.emplace(index, nullptr);
        return;
    }
    pending_.emplace(index, nullptr);
    if (current.toStandardOutput) {
        try {
            standardOutput_.Close(node, false);
        } catch (const std::exception&) {
            // Standard output fails again for the next entry, which says so.
        }
    }
    // What was written of an entry that failed is not the entry: it goes, and the report says so.
    const bool removed = current.file.has_value();
    const bool diskFull = removed && DestinationFolder::IsFull(*current.file);
    if (removed) DestinationFolder::Remove(*current.file);
    if (diskFull) StopOnFullOrReadOnly(ENOSPC);
    unexplained_ = Failure{std::move(current.item), removed, diskFull};
}

void ExtractionRun::FinishPending() {
    if (!pending_) return;
    auto [index, atTurn] = std::move(*pending_);
    pending_.reset();
    if (order_)
        order_->Finish(index, std::move(atTurn));
    else if (atTurn)
        atTurn();
}

bool ExtractionRun::FinishWhole(Current& current) {
    try {
        return Finish(current);
    } catch (const RefusedName& error) {
        ReportItem(current.item, std::string("refused: ") + error.what(), ExitCode::Failed);
    } catch (const std::exception& error) {
        if (current.file) DestinationFolder::Remove(*current.file);
        ReportItem(current.item, error.what(), ExitCode::Failed);
    }
    return false;
}

bool ExtractionRun::Finish(Current& current) {
    Item& item = current.item;
    if (current.link) {
        // Made at the end, when it is told.
        const DeferredLinks::Source source{linkItems_.size(), item.modified, item.mode};
        if (item.IsHardLink()) {
            // Where the run wrote the file it links to: the archive's path, split as the tree splits it.
            std::vector<std::wstring> target = Components(zorvik::rt::to_wide(item.hardLinkTarget));
            if (settings_.flat) target = {target.back()};
            links_.AddHard(source, std::move(current.destination), std::move(target), current.existing);
        } else {
            std::string target = item.symbolicLinkTarget.empty() ? *current.linkData : item.symbolicLinkTarget;
            if (target.empty()) throw RefusedName("the link has no target");
            if (target.find('\0') != std::string::npos) throw RefusedName("its link target holds a NUL character");
            links_.AddSymbolic(source, std::move(current.destination), std::move(target), current.existing);
        }
        linkItems_.push_back(std::move(item));
        return false;
    }
    if (current.toStandardOutput) standardOutput_.Close(item.item.abi(), true);
    if (current.file) {
        commits_.Push(std::move(*current.file), item.modified != 0 ? std::optional(ToTimespec(item.modified)) : std::nullopt,
                      std::move(item), std::move(current.commitKey));
        return true;
    }
    Tell(item, ItemResult::Kind::Done);
    return false;
}

void ExtractionRun::Settled(Item& item, const CommitQueue::Outcome& outcome) {
    if (outcome.failure) {
        ReportItem(item, *outcome.failure, ExitCode::Failed);
    } else {
        written_.insert(outcome.identity);
        Tell(item, ItemResult::Kind::Done);
    }
    if (order_) order_->Finish(item.index);
}

void ExtractionRun::CreateLinks() {
    if (settings_.mode != ExtractionMode::Extract || settings_.toStandardOutput) return;
    const auto writtenByRun = [this](DestinationFolder::FileIdentity file) { return written_.count(file) != 0; };
    links_.Create(writtenByRun, [this](std::size_t tag, const DeferredLinks::Outcome& outcome) {
        const Item& item = linkItems_.at(tag);
        if (outcome.failure)
            ReportItem(item, *outcome.failure, ExitCode::Failed);
        else
            Tell(item, outcome.made ? ItemResult::Kind::Done : ItemResult::Kind::Skipped);
    });
    linkItems_.clear();
}

std::int32_t ExtractionRun::Failed(IArchiveItem* node, std::int32_t kind) {
    bool removed = false;
    bool diskFull = false;
    if (unexplained_ && unexplained_->item.item.abi() == node) {
        removed = unexplained_->outputRemoved;
        diskFull = unexplained_->diskFull;
        unexplained_.reset();
    }
    ReportUnexplainedFailure();
    if (node && diskFull) {
        ReportItem(Identify(node), DescribeErrno(ENOSPC) + " (incomplete output removed)", ExitCode::Failed);
    } else if (node) {
        std::string reason;
        ExitCode code = ExitCode::Failed;
        switch (kind) {
        case ExtractionFailure::Encrypted:
            reason = passwordMissing_ ? "password missing" : "wrong password, or the data is damaged";
            code = ExitCode::Password;
            break;
        case ExtractionFailure::UnsupportedMethod: reason = "unsupported compression method"; break;
        case ExtractionFailure::DataCheck: reason = "CRC error: the data is damaged"; break;
        default:
            // An entry that goes on in a volume that is not there (the open said which) is cut,
            // not damaged.
            reason = archive_.MissingVolume().empty() ? "data error: the data is damaged or incomplete"
                                                      : "incomplete: a volume it needs is missing";
            break;
        }
        ReportItem(Identify(node), removed ? reason + " (incomplete output removed)" : reason, code);
    }
    FinishPending();
    return Interrupt::Requested() || stopped_ ? ExtractionAnswer::Cancel : ExtractionAnswer::Continue;
}

password_answer ExtractionRun::Password() {
    if (Interrupt::Requested()) return password_answer::canceled();
    const auto password = passwords_.Get();
    if (!password) {
        passwordMissing_ = true;
        return password_answer::declined();
    }
    return password_answer::given(zorvik::rt::to_wide(*password));
}

std::int32_t ExtractionRun::Progress(std::uint64_t value, bool total) {
    if (total)
        console_.SetTotal(value);
    else
        console_.SetCompleted(value);
    return Interrupt::Requested() ? ExtractionAnswer::Cancel : ExtractionAnswer::Continue;
}

bool ExtractionRun::Excluded(const Item& item) const { return settings_.selection && settings_.selection->Excluded(Readable(item.path)); }

std::optional<std::string> ExtractionRun::Refusal(const Item& item) const {
    if (static_cast<std::size_t>(std::count(item.path.begin(), item.path.end(), L'/')) >= kMaxDepth)
        return fmt::format("nested deeper than {} folders", kMaxDepth);
    const std::wstring& path = item.entryPath;
    if (!path.empty() && path.front() == L'/') return "absolute path";
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find(L'/', start), path.size());
        if (path.compare(start, end - start, L"..") == 0) return "name holds \"..\"";
        start = end + 1;
    }
    // Below a link of the archive, whatever the order of its entries: the link is made last,
    // and a folder of its name would take its place.
    if (settings_.linkPaths.empty()) return std::nullopt;
    const std::string readable = Readable(item.path);
    for (std::size_t slash = readable.find('/'); slash != std::string::npos; slash = readable.find('/', slash + 1))
        if (settings_.linkPaths.count(readable.substr(0, slash)))
            return "path goes through a symbolic link (" + Printable(readable.substr(0, slash)) + ")";
    return std::nullopt;
}

std::vector<std::wstring> ExtractionRun::DestinationOf(const Item& item) const {
    std::vector<std::wstring> components = Components(item.path);
    if (settings_.flat) return {components.back()};
    return components;
}

// Reports keep the order of the items: files waiting for their names are told of first. Without
// a report nothing waits for them here.
void ExtractionRun::Tell(std::uint32_t index, std::wstring_view path, bool folder, ItemResult::Kind kind, const std::string& reason) {
    if (!settings_.report) return;
    commits_.Settle(true);
    Say(index, [this, result = ItemResult{Readable(path), folder, kind, reason}] { settings_.report(result); });
}

void ExtractionRun::Tell(const Item& item, ItemResult::Kind kind) {
    if (!item.implicit) Tell(item.index, item.path, item.folder, kind);
}

void ExtractionRun::Say(std::uint32_t index, std::function<void()> line) {
    if (order_)
        order_->Say(index, std::move(line));
    else
        line();
}

std::vector<std::uint32_t> ExtractionRun::ExpectedIndices(const std::vector<zorvik::ArchiveItem>& chosen) const {
    std::vector<std::uint32_t> indices;
    const auto add = [&](const zorvik::ArchiveItem& item) {
        if (const auto properties = item.properties()) indices.push_back(properties.index());
    };
    const auto excluded = [&](const std::string& path) { return settings_.selection && settings_.selection->Excluded(path); };
    for (const zorvik::ArchiveItem& node : chosen) {
        const std::string path = Readable(node.wide_path().view());  // empty for the root
        if (!path.empty()) {
            if (excluded(path)) continue;
            add(node);
        }
        if (const auto folder = node.as_folder()) {
            WalkEntries(*folder, [&](const Entry& entry) {
                if (excluded(path.empty() ? entry.path : path + "/" + entry.path)) return false;
                if (!entry.implicit) add(entry.item);
                return true;
            });
        }
    }
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    return indices;
}

void ExtractionRun::ReportItem(const Item& item, const std::string& reason, ExitCode code) {
    commits_.Settle(true);
    if (!reported_.emplace(item.item.abi(), item.item).second) return;
    if (code == ExitCode::Password)
        passwordFailed_ = true;
    else
        anyFailed_ = true;
    // The entry as the archive names it, with "/" between components whatever the format's separator.
    Say(item.index, [this, name = Readable(item.entryPath.empty() ? item.path : item.entryPath), reason] { console_.Error(name, reason); });
    if (!item.implicit) Tell(item.index, item.path, item.folder, ItemResult::Kind::Failed, reason);
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

void ExtractionRun::ReportUnheard(const std::vector<zorvik::ArchiveItem>& chosen) {
    // Every entry asked for had its result: nothing to look for.
    if (!heard_.AnyUnheard()) return;
    std::vector<std::string> below;  // paths of the chosen nodes; empty for the root
    for (const auto& item : chosen) below.push_back(Readable(item.wide_path().view()));
    const char* const reason = settings_.mode == ExtractionMode::Test ? "not tested: the archive gave no result for it"
                                                                      : "not extracted: the archive gave no result for it";
    heard_.Find(archive_.Root(), below, settings_.selection,
                [&](const Entry& entry) { ReportItem(Item::Of(entry.item), reason, ExitCode::Failed); });
}

void ExtractionRun::StopOnFullOrReadOnly(int error) {
    if (error == ENOSPC || error == EDQUOT || error == EROFS) stopped_ = true;
}

void ExtractionRun::DropUnfinishedOutput() {
    for (Current& current : std::exchange(open_, {})) {
        if (current.toStandardOutput) {
            try {
                standardOutput_.Close(current.item.item.abi(), false);
            } catch (const std::exception&) {
                // Nothing more goes out.
            }
        }
        if (!current.file) continue;
        DestinationFolder::Remove(*current.file);
        ReportItem(current.item,
                   Interrupt::Requested() ? "interrupted (incomplete output removed)" : "not completed (incomplete output removed)",
                   ExitCode::Failed);
    }
}

void ExtractionRun::FinishFolders() {
    // Deepest first, and only now that nothing more is written into them: a folder's mode may
    // forbid writing. Of one depth, in the archive's order, however their entries ended.
    std::stable_sort(folders_.begin(), folders_.end(), [](const FolderState& a, const FolderState& b) { return a.index < b.index; });
    std::stable_sort(folders_.begin(), folders_.end(), [](const FolderState& a, const FolderState& b) { return a.depth > b.depth; });
    for (const FolderState& folder : folders_) {
        const std::vector<std::wstring> components = Components(folder.path);
        try {
            // The destination's own mode is the user's, whatever an entry "./" says.
            if (folder.mode != 0 && !DestinationFolder::Names(components).empty())
                settings_.destination->SetFolderMode(components, folder.mode);
            if (folder.modified != 0) settings_.destination->SetFolderModified(components, ToTimespec(folder.modified));
            Tell(UINT32_MAX, folder.path, true, ItemResult::Kind::Done);
        } catch (const std::exception& error) {
            console_.Error(Readable(folder.path), error.what());
            Tell(UINT32_MAX, folder.path, true, ItemResult::Kind::Failed, error.what());
            anyFailed_ = true;
        }
    }
    folders_.clear();
}

}  // namespace Zorvik::Cli
