// One run of the component's extraction for "extract" (files written below the destination
// folder) or "test" (every entry decoded into a DiscardStream): answers its callbacks, keeps
// every name inside the destination, sets modification times, removes the output of an entry
// that did not complete, and reports each item that failed. What it needs of an item it reads
// when the component asks about it, and what it keeps of each entry is a few bytes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "Zorvik/ExtractionCallback.h"
#include "cli/Console.h"
#include "cli/DestinationFolder.h"
#include "cli/ExitCode.h"
#include "cli/OpenedArchive.h"
#include "cli/PasswordSource.h"

namespace Zorvik::Cli {

enum class ExtractionMode { Extract, Test };

struct ExtractionSettings {
    ExtractionMode mode = ExtractionMode::Extract;
    const DestinationFolder* destination = nullptr;  // for Extract
    ExistingFiles existing = ExistingFiles::Fail;
};

class ExtractionRun {
public:
    ExtractionRun(const OpenedArchive& archive, PasswordSource& passwords, Console& console, ExtractionSettings settings);

    // Runs the extraction of the chosen nodes (with everything below them); the exit code sums
    // up how it went, after every failed item has been reported.
    ExitCode Run(const std::vector<zorvik::rt::com_ptr<IArchiveItem>>& chosen);

    std::size_t FilesDone() const noexcept { return filesDone_; }

private:
    // What a run needs of an item.
    struct Item {
        zorvik::rt::com_ptr<IArchiveItem> item;
        std::wstring path;       // node names from the root down to the item, joined with backslashes
        std::wstring entryPath;  // the path as the archive holds it; empty for implicit folders
        std::int64_t modified = 0;
    };
    struct Current {
        Item item;
        std::optional<DestinationFolder::CreatedFile> file;
    };
    struct Failure {
        Item item;
        bool outputRemoved = false;
        bool diskFull = false;  // its output could not be written for want of room
    };
    struct FolderTime {
        std::wstring path;  // as Item's
        std::size_t depth = 0;
        std::int64_t modified = 0;
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

    static Item Identify(IArchiveItem* item);
    // The node names of an Item's path.
    static std::vector<std::wstring> Components(std::wstring_view path);
    // An Item's path for messages, with slashes.
    static std::string Readable(std::wstring_view path);
    // What the run remembers of an entry it heard of: its path, hashed.
    static std::size_t HeardKey(std::wstring_view path) { return std::hash<std::wstring_view>()(path); }
    // A reason to refuse an entry's name before anything is created for it.
    static std::optional<std::string> Refusal(const Item& item);
    void ReportItem(const Item& item, const std::string& reason, ExitCode code);
    // Reports a failure that ItemFailed did not explain (it is told after ItemCompleted, when at all).
    void ReportUnexplainedFailure();
    // Removes the output of every entry whose result never came.
    void DropUnfinishedOutput();
    // Reports every file below the chosen nodes that the run said nothing about: a run that
    // extracted or tested nothing of what it was asked for is no success.
    void ReportUnheard(const std::vector<zorvik::rt::com_ptr<IArchiveItem>>& chosen);
    // A write failure after which no other file can be written either ends the run.
    void StopOnFullOrReadOnly(int error);
    void SetFolderTimes();

    const OpenedArchive& archive_;
    PasswordSource& passwords_;
    Console& console_;
    const ExtractionSettings settings_;

    // Outputs open for entries whose result has not come yet: one decode may feed several
    // entries (copies of one file in a RAR archive).
    std::vector<Current> open_;
    // The files this run wrote: a later entry of the same name replaces the earlier one, as it
    // would in the file system the archive was made from.
    std::unordered_set<DestinationFolder::FileIdentity, FileIdentityHash> written_;
    std::optional<Failure> unexplained_;
    // Items reported, held so that their objects (and addresses) stay theirs.
    std::map<IArchiveItem*, zorvik::rt::com_ptr<IArchiveItem>> reported_;
    // The HeardKey of every entry the component gave a result for (each failure of them is
    // reported): eight bytes an entry, where a set of the items would keep their objects.
    std::vector<std::size_t> heard_;
    std::uint32_t itemCount_ = 0;  // entries the component was asked for
    std::vector<FolderTime> folders_;
    bool passwordMissing_ = false;
    bool anyFailed_ = false;
    bool passwordFailed_ = false;
    // Why the run stopped before its end: nothing more can be written.
    std::optional<std::string> stopped_;
    std::size_t filesDone_ = 0;
};

}  // namespace Zorvik::Cli
