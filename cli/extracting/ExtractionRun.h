// One run of the component's extraction for "extract" (files written below the destination
// folder, or to standard output) or "test" (every entry decoded into a stream that keeps
// nothing): answers its callbacks, refuses names that would lead outside the destination, sets
// modes and modification times, makes links once the files are written, removes the output of
// an entry that did not complete, and reports each item that failed. The order in which files
// take their names is CommitOrder's, the order of what is said EntryOrder's, and the accounting
// of entries the component never reported UnheardEntries'. What it needs of an item it reads
// when the component asks about it, and what it keeps of each entry is a few bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "cli/extracting/CommitOrder.h"
#include "cli/terminal/Console.h"
#include "cli/extracting/DeferredLinks.h"
#include "cli/extracting/DestinationFolder.h"
#include "cli/reading/EntryList.h"
#include "cli/extracting/EntryOrder.h"
#include "cli/terminal/ExitCode.h"
#include "cli/extracting/ExtractionItem.h"
#include "cli/reading/OpenedArchive.h"
#include "cli/reading/PasswordSource.h"
#include "cli/reading/Selection.h"
#include "cli/extracting/StandardOutput.h"
#include "cli/extracting/UnheardEntries.h"
#include "zorvik/ExtractionCallback.h"

namespace Zorvik::Cli {

enum class ExtractionMode { Extract, Test };

// How an entry fared in a run, told as soon as that is settled.
struct ItemResult {
    enum class Kind { Done, Skipped, Failed };
    std::string path;  // as list shows it
    bool folder = false;
    Kind kind = Kind::Done;
    std::string reason;  // why it failed
};

struct ExtractionSettings {
    ExtractionMode mode = ExtractionMode::Extract;
    const DestinationFolder* destination = nullptr;  // for Extract, unless toStandardOutput
    ExistingFiles existing = ExistingFiles::Fail;
    bool flat = false;              // every file straight in the destination, without its folders
    bool linksAsFiles = false;      // a symbolic link as a file holding its target, a hard link as a copy
    bool toStandardOutput = false;  // the files' data on standard output
    // Entries below the chosen nodes that the run passes over (its excludes); none: every one.
    const Selection* selection = nullptr;
    // Paths (as list shows them) of the archive's symbolic links: nothing is written below them.
    std::set<std::string> linkPaths;
    // Told of every entry but implicit folders.
    std::function<void(const ItemResult&)> report;
    // The most threads the component may decode on; 0 leaves its default (one a core).
    std::uint32_t threads = 0;
};

class ExtractionRun {
public:
    ExtractionRun(const OpenedArchive& archive, PasswordSource& passwords, Console& console, ExtractionSettings settings);

    // Runs the extraction of the chosen nodes (with everything below them that the selection
    // keeps); the exit code sums up how it went, after every failed item has been reported.
    ExitCode Run(const std::vector<zorvik::ArchiveItem>& chosen);

    std::size_t FilesDone() const noexcept { return filesDone_; }
    std::uint64_t BytesDone() const noexcept { return bytesDone_; }

private:
    using Item = ExtractionItem;
    struct Current {
        Item item;
        std::optional<DestinationFolder::CreatedFile> file;
        std::vector<std::wstring> destination;
        ExistingFiles existing = ExistingFiles::Fail;
        bool toStandardOutput = false;
        bool link = false;
        // What a symbolic link's data holds: its target, for the formats that keep it so.
        std::shared_ptr<std::string> linkData;
        std::wstring commitKey;  // of a file, see AppendCommitKey
    };
    struct Failure {
        Item item;
        bool outputRemoved = false;
        bool diskFull = false;  // its output could not be written for want of room
    };
    // A folder's mode and time, set once nothing more is written into it.
    struct FolderState {
        std::wstring path;  // as Item's
        std::size_t depth = 0;
        std::uint32_t mode = 0;
        std::int64_t modified = 0;
        std::uint32_t index = UINT32_MAX;
    };
    struct FileIdentityHash {
        std::size_t operator()(const DestinationFolder::FileIdentity& file) const noexcept {
            return std::hash<ino_t>()(file.inode) ^ std::hash<dev_t>()(file.device);
        }
    };

    file_stream_answer FileStream(IArchiveItem* item);
    void Folder(IArchiveItem* item);
    void Completed(IArchiveItem* item, bool succeeded);
    std::int32_t Failed(IArchiveItem* item, std::int32_t kind);
    password_answer Password();
    std::int32_t Progress(std::uint64_t value, bool total);

    // The streams of a link entry, whose link is made at the end.
    file_stream_answer LinkStream(Item item, std::vector<std::wstring> destination, ExistingFiles existing);
    // What becomes of an entry whose data is all there; whether it waits for its name.
    bool Finish(Current& current);
    // Finish, with its failure reported.
    bool FinishWhole(Current& current);
    void CreateLinks();

    static Item Identify(IArchiveItem* item) { return Item::Of(zorvik::ArchiveItem(zorvik::rt::com_ptr<IArchiveItem>::copy_from(item))); }
    // The node names of an Item's path.
    static std::vector<std::wstring> Components(std::wstring_view path);
    // An Item's path for messages and selection, with slashes.
    static std::string Readable(std::wstring_view path);
    bool Excluded(const Item& item) const;
    // A reason to refuse an entry's name before anything is created for it.
    std::optional<std::string> Refusal(const Item& item) const;
    std::vector<std::wstring> DestinationOf(const Item& item) const;
    // Tells settings_.report how an entry fared.
    void Tell(std::uint32_t index, std::wstring_view path, bool folder, ItemResult::Kind kind, const std::string& reason = {});
    void Tell(const Item& item, ItemResult::Kind kind);
    // Reports an item's failure once.
    void ReportItem(const Item& item, const std::string& reason, ExitCode code);
    // Says a line about the entry of index now, or holds it until the entries before it are out.
    void Say(std::uint32_t index, std::function<void()> line);
    // While lines are held: the indices of the entries the run will finish, in order.
    std::vector<std::uint32_t> ExpectedIndices(const std::vector<zorvik::ArchiveItem>& chosen) const;
    // The entry that completed last is finished, now that its failure, if any, has been told.
    void FinishPending();
    // A file's commit ended.
    void Settled(Item& item, const CommitQueue::Outcome& outcome);
    // Reports a failure that ItemFailed did not explain (it is told after ItemCompleted, when at all).
    void ReportUnexplainedFailure();
    // Removes the output of every entry whose result never came.
    void DropUnfinishedOutput();
    // Reports every file below the chosen nodes that the run said nothing about: a run that
    // extracted or tested nothing of what it was asked for is no success.
    void ReportUnheard(const std::vector<zorvik::ArchiveItem>& chosen);
    // A write failure after which no other file can be written either ends the run.
    void StopOnFullOrReadOnly(int error);
    // Modes and times of the folders, once nothing more is written into them.
    void FinishFolders();

    const OpenedArchive& archive_;
    PasswordSource& passwords_;
    Console& console_;
    const ExtractionSettings settings_;
    CommitOrder commits_;

    // Outputs open for entries whose result has not come yet: one decode may feed several
    // entries (copies of one file in a RAR archive).
    std::vector<Current> open_;
    // The files this run wrote: a later entry of the same name replaces the earlier one, as it
    // would in the file system the archive was made from.
    std::unordered_set<DestinationFolder::FileIdentity, FileIdentityHash> written_;
    DeferredLinks links_;
    std::vector<Item> linkItems_;  // the entries of links_, by tag
    StandardOutput standardOutput_;
    std::optional<Failure> unexplained_;
    // Items reported, held so that their objects (and addresses) stay theirs.
    std::map<IArchiveItem*, zorvik::ArchiveItem> reported_;
    UnheardEntries heard_;
    std::vector<FolderState> folders_;
    bool passwordMissing_ = false;
    bool anyFailed_ = false;
    bool passwordFailed_ = false;
    // The run stopped before its end: nothing more can be written (why, the entry it stopped at
    // said).
    bool stopped_ = false;
    std::size_t filesDone_ = 0;
    std::uint64_t bytesDone_ = 0;
    // While the component runs on several threads: what is said about items, in the archive's
    // order; and the entry that completed last, finished at the next callback (a failure it
    // did not explain comes after its completion).
    std::optional<EntryOrder> order_;
    std::optional<std::pair<std::uint32_t, std::function<void()>>> pending_;
};

}  // namespace Zorvik::Cli
