// One run of the component's extraction for "extract" (files written below the destination
// folder, or to standard output) or "test" (every entry decoded into a stream that keeps
// nothing): answers its callbacks, keeps every name inside the destination, sets modes and
// modification times, makes links once the files are written, removes the output of an entry
// that did not complete, and reports each item that failed. What it needs of an item it reads
// when the component asks about it, and what it keeps of each entry is a few bytes.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "cli/CommitQueue.h"
#include "cli/Console.h"
#include "cli/DeferredLinks.h"
#include "cli/DestinationFolder.h"
#include "cli/EntryList.h"
#include "cli/ExitCode.h"
#include "cli/OpenedArchive.h"
#include "cli/PasswordSource.h"
#include "cli/Selection.h"
#include "cli/StandardOutput.h"
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
    // What a run needs of an item.
    struct Item : EntryFacts {
        zorvik::ArchiveItem item;
        std::wstring path;                 // node names from the root down to the item, joined with "/"
        std::wstring entryPath;            // the path as the archive holds it; empty for implicit folders
        std::uint32_t index = UINT32_MAX;  // the entry's number in the archive; none for implicit folders
    };
    // A line about an item, said while entries may end out of the archive's order.
    struct HeldLine {
        std::uint32_t index;
        std::function<void()> say;
    };
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
    // What becomes of an entry whose data is all there.
    void Finish(Current& current);
    // Finish, with its failure reported.
    void FinishWhole(Current& current);
    void CreateLinks();

    static Item Identify(IArchiveItem* item);
    // The node names of an Item's path.
    static std::vector<std::wstring> Components(std::wstring_view path);
    // An Item's path for messages and selection, with slashes.
    static std::string Readable(std::wstring_view path);
    // What the run remembers of an entry it heard of: its path, hashed.
    static std::size_t HeardKey(std::wstring_view path) { return std::hash<std::wstring_view>()(path); }
    bool Excluded(const Item& item) const;
    // A reason to refuse an entry's name before anything is created for it.
    std::optional<std::string> Refusal(const Item& item) const;
    std::vector<std::wstring> DestinationOf(const Item& item) const;
    // Tells settings_.report how an entry fared.
    void Tell(std::uint32_t index, std::wstring_view path, bool folder, ItemResult::Kind kind, const std::string& reason = {});
    void Tell(const Item& item, ItemResult::Kind kind);
    // Reports an item's failure once.
    void ReportItem(const Item& item, const std::string& reason, ExitCode code);
    // Says a line about the entry of index now, or holds it while entries may end out of order.
    void Say(std::uint32_t index, std::function<void()> line);
    // Says the lines held, in the archive's order, and holds no more.
    void SayHeld();
    // Reports a failure that ItemFailed did not explain (it is told after ItemCompleted, when at all).
    void ReportUnexplainedFailure();
    // Removes the output of every entry whose result never came.
    void DropUnfinishedOutput();
    // Reports every file below the chosen nodes that the run said nothing about: a run that
    // extracted or tested nothing of what it was asked for is no success.
    void ReportUnheard(const std::vector<zorvik::ArchiveItem>& chosen);
    // Reports the files whose commit has ended (waiting for every one when wait), in order.
    void Settle(bool wait);
    // Waits for the commits of files at destination or at a folder on its way, which a new
    // item there must find in place; the destination's commit key.
    std::wstring SettleCommitsOn(const std::vector<std::wstring>& destination);
    // Extends the key under which a destination path waits for its commit by one name: names
    // that differ only in ASCII case share one, as a file system may take them for one.
    static void AppendCommitKey(std::wstring& key, std::wstring_view name);
    // A write failure after which no other file can be written either ends the run.
    void StopOnFullOrReadOnly(int error);
    // Modes and times of the folders, once nothing more is written into them.
    void FinishFolders();

    const OpenedArchive& archive_;
    PasswordSource& passwords_;
    Console& console_;
    const ExtractionSettings settings_;
    CommitQueue commits_;

    // Outputs open for entries whose result has not come yet: one decode may feed several
    // entries (copies of one file in a RAR archive).
    std::vector<Current> open_;
    // The files this run wrote: a later entry of the same name replaces the earlier one, as it
    // would in the file system the archive was made from.
    std::unordered_set<DestinationFolder::FileIdentity, FileIdentityHash> written_;
    // Files written whole, waiting for their names, in the order of commits_, with the commit key
    // of each; an item is reported only after those before it, whatever it is.
    struct Committing {
        Item item;
        std::wstring key;
    };
    std::deque<Committing> committing_;
    std::unordered_multiset<std::wstring> committingKeys_;
    bool settling_ = false;
    DeferredLinks links_;
    std::vector<Item> linkItems_;  // the entries of links_, by tag
    StandardOutput standardOutput_;
    std::optional<Failure> unexplained_;
    // Items reported, held so that their objects (and addresses) stay theirs.
    std::map<IArchiveItem*, zorvik::ArchiveItem> reported_;
    // The HeardKey of every entry the component gave a result for (each failure of them is
    // reported): eight bytes an entry, where a set of the items would keep their objects.
    std::vector<std::size_t> heard_;
    std::uint32_t itemCount_ = 0;  // entries the component was asked for
    std::vector<FolderState> folders_;
    bool passwordMissing_ = false;
    bool anyFailed_ = false;
    bool passwordFailed_ = false;
    // The run stopped before its end: nothing more can be written (why, the entry it stopped at
    // said).
    bool stopped_ = false;
    std::size_t filesDone_ = 0;
    std::uint64_t bytesDone_ = 0;
    // While the component runs on several threads: what is said about items, said once it ends.
    std::optional<std::vector<HeldLine>> held_;
    std::vector<Current> heldLinks_;  // links whose data is there, while lines are held
};

}  // namespace Zorvik::Cli
