// One run of the component's extraction for "extract" (files written below the destination
// folder, or to standard output) or "test" (every entry decoded into a stream that keeps
// nothing): answers its callbacks, keeps every name inside the destination, sets modes and
// modification times, makes links once the files are written, removes the output of an entry
// that did not complete, and reports each item that failed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Zorvik/ExtractionCallback.h"
#include "cli/Console.h"
#include "cli/DeferredLinks.h"
#include "cli/DestinationFolder.h"
#include "cli/EntryList.h"
#include "cli/ExitCode.h"
#include "cli/OpenedArchive.h"
#include "cli/PasswordSource.h"
#include "cli/StandardOutput.h"

namespace Zorvik::Cli {

enum class ExtractionMode { Extract, Test };

struct ExtractionSettings {
    ExtractionMode mode = ExtractionMode::Extract;
    const DestinationFolder* destination = nullptr;  // for Extract, unless toStandardOutput
    ExistingFiles existing = ExistingFiles::Fail;
    bool flat = false;              // every file straight in the destination, without its folders
    bool linksAsFiles = false;      // a symbolic link as a file holding its target, a hard link as a copy
    bool toStandardOutput = false;  // the files' data on standard output
};

// How an entry fared in a run.
struct ItemOutcome {
    enum class Kind { Unheard, Done, Skipped, Failed };
    Kind kind = Kind::Unheard;
    std::string reason;  // why it failed
};

class ExtractionRun {
public:
    ExtractionRun(const OpenedArchive& archive, const std::vector<Entry>& entries, PasswordSource& passwords, Console& console,
                  ExtractionSettings settings);

    // Runs the extraction of the selected entries (of the run's entries, in their order); the
    // exit code sums up how it went, after every failed item has been reported.
    ExitCode Run(const std::vector<const Entry*>& selected);

    std::size_t FilesDone() const noexcept { return filesDone_; }
    std::uint64_t BytesDone() const noexcept { return bytesDone_; }
    ItemOutcome Outcome(const Entry& entry) const;

private:
    struct Current {
        const Entry* entry = nullptr;
        std::optional<DestinationFolder::CreatedFile> file;
        std::vector<std::wstring> destination;
        ExistingFiles existing = ExistingFiles::Fail;
        bool toStandardOutput = false;
        bool link = false;
        // What a symbolic link's data holds: its target, for the formats that keep it so.
        std::shared_ptr<std::string> linkData;
    };
    struct Failure {
        const Entry* entry = nullptr;
        bool outputRemoved = false;
        bool diskFull = false;  // its output could not be written for want of room
    };

    file_stream_answer FileStream(IArchiveItem* item);
    void Folder(IArchiveItem* item);
    void Completed(IArchiveItem* item, bool succeeded);
    std::int32_t Failed(IArchiveItem* item, std::int32_t kind);
    password_answer Password();
    std::int32_t Progress(std::uint64_t value, bool total);

    // The streams of a link entry, whose link is made at the end.
    file_stream_answer LinkStream(const Entry& entry, std::vector<std::wstring> destination, ExistingFiles existing);
    // What becomes of an entry whose data is all there.
    void Finish(Current& current);

    const Entry* Find(IArchiveItem* item) const;
    // A reason to refuse an entry's name before anything is created for it.
    std::optional<std::string> Refusal(const Entry& entry) const;
    std::vector<std::wstring> DestinationOf(const Entry& entry) const;
    void ReportItem(const Entry& entry, const std::string& reason, ExitCode code);
    // Reports a failure that ItemFailed did not explain (it is told after ItemCompleted, when at all).
    void ReportUnexplainedFailure();
    // Removes the output of every entry whose result never came.
    void DropUnfinishedOutput();
    // Reports every selected file that the run said nothing about: a run that extracted or
    // tested nothing of what it was asked for is no success.
    void ReportUnheard(const std::vector<const Entry*>& selected);
    // A write failure after which no other file can be written either ends the run.
    void StopOnFullOrReadOnly(int error);
    // Modes and times of the folders, once nothing more is written into them.
    void FinishFolders();

    const OpenedArchive& archive_;
    const std::vector<Entry>& entries_;
    PasswordSource& passwords_;
    Console& console_;
    const ExtractionSettings settings_;
    // The selected entries, by item.
    std::map<IArchiveItem*, const Entry*> byItem_;
    // Normalised paths of the archive's symbolic links: nothing is written below them.
    std::set<std::string> linkPaths_;

    // Outputs open for entries whose result has not come yet: one decode may feed several
    // entries (copies of one file in a RAR archive).
    std::vector<Current> open_;
    // The names this run wrote, normalised: a later entry of the same name replaces the earlier
    // one, as it would in the file system the archive was made from.
    std::set<std::string> written_;
    // Where each file the run wrote went, by its normalised path in the archive.
    std::map<std::string, std::vector<std::wstring>> writtenAt_;
    DeferredLinks links_;
    StandardOutput standardOutput_;
    std::optional<Failure> unexplained_;
    std::map<const Entry*, ItemOutcome> outcomes_;
    std::vector<const Entry*> folders_;
    bool passwordMissing_ = false;
    bool anyFailed_ = false;
    bool passwordFailed_ = false;
    // Why the run stopped before its end: nothing more can be written.
    std::optional<std::string> stopped_;
    std::size_t filesDone_ = 0;
    std::uint64_t bytesDone_ = 0;
};

}  // namespace Zorvik::Cli
