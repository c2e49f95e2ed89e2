// One run of the component's extraction for "extract" (files written below the destination
// folder) or "test" (every entry decoded into a DiscardStream): answers its callbacks, keeps
// every name inside the destination, sets modification times, removes the output of an entry
// that did not complete, and reports each item that failed.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Zorvik/ExtractionCallback.h"
#include "cli/Console.h"
#include "cli/DestinationFolder.h"
#include "cli/EntryList.h"
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
    ExtractionRun(const OpenedArchive& archive, const std::vector<Entry>& entries, PasswordSource& passwords, Console& console,
                  ExtractionSettings settings);

    // Runs the extraction of the chosen nodes (with everything below them); the exit code sums
    // up how it went, after every failed item has been reported.
    ExitCode Run(const std::vector<zorvik::rt::com_ptr<IArchiveItem>>& chosen);

    std::size_t FilesDone() const noexcept { return filesDone_; }

private:
    struct Current {
        const Entry* entry = nullptr;
        std::optional<DestinationFolder::CreatedFile> file;
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

    const Entry* Find(IArchiveItem* item) const;
    // A reason to refuse an entry's name before anything is created for it.
    static std::optional<std::string> Refusal(const Entry& entry);
    void ReportItem(const Entry& entry, const std::string& reason, ExitCode code);
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
    const std::vector<Entry>& entries_;
    PasswordSource& passwords_;
    Console& console_;
    const ExtractionSettings settings_;
    std::map<IArchiveItem*, const Entry*> byItem_;

    // Outputs open for entries whose result has not come yet: one decode may feed several
    // entries (copies of one file in a RAR archive).
    std::vector<Current> open_;
    // The files this run wrote, by normalised path: a later entry of the same name replaces
    // the earlier one, as it would in the file system the archive was made from.
    std::set<std::string> written_;
    std::optional<Failure> unexplained_;
    std::set<const Entry*> reported_;
    // Entries that completed or were skipped on purpose.
    std::set<const Entry*> done_;
    std::vector<const Entry*> folders_;
    bool passwordMissing_ = false;
    bool anyFailed_ = false;
    bool passwordFailed_ = false;
    // Why the run stopped before its end: nothing more can be written.
    std::optional<std::string> stopped_;
    std::size_t filesDone_ = 0;
};

}  // namespace Zorvik::Cli
