// The links an extraction makes once every file is written: a hard link needs its target in
// place, and a symbolic link is judged against the tree as it ends up, so that none leads
// outside the destination, whatever the order of the entries. A symbolic link's target is
// walked name by name from the link's folder, through the links already there and those of
// the run; it is made only when no step leaves the destination (an absolute target, ".." above
// it, or a link on the way that does either). With asFiles, a symbolic link becomes a file
// holding its target and a hard link a copy of its target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/extracting/DestinationFolder.h"

namespace Zorvik::Cli {

class DeferredLinks {
public:
    // What a link keeps of its entry: tag is the caller's, to tell the entry in reports.
    struct Source {
        std::size_t tag = 0;
        std::int64_t modified = 0;  // ticks since 1601 UTC; 0: none
        std::uint32_t mode = 0;     // for a hard link made a copy
    };
    // How each link fared: made, failed (with why), or neither when --skip-existing left what
    // was at its name.
    struct Outcome {
        bool made = false;
        std::optional<std::string> failure;
    };
    using Report = std::function<void(std::size_t tag, const Outcome&)>;

    DeferredLinks(const DestinationFolder* destination, bool asFiles) : destination_(destination), asFiles_(asFiles) {}

    // A link to make at destination (components from the destination folder); a later link or
    // file of the same name replaces one not made yet. A hard link's target is where the run
    // wrote the file it links to.
    void AddSymbolic(Source source, std::vector<std::wstring> destination, std::string target, ExistingFiles existing);
    void AddHard(Source source, std::vector<std::wstring> destination, std::vector<std::wstring> target, ExistingFiles existing);
    void Forget(const std::vector<std::wstring>& destination);

    // Makes them all, hard links first. writtenByRun tells the files this run wrote: a hard
    // link's target must be one, and a link replaces one of its name.
    void Create(const DestinationFolder::Replaceable& writtenByRun, const Report& report);

private:
    struct Link {
        Source source;
        std::vector<std::wstring> destination;
        std::string target;                    // a symbolic link's
        std::vector<std::wstring> hardTarget;  // a hard link's
        ExistingFiles existing = ExistingFiles::Fail;
        bool hard = false;
    };
    enum class Verdict { Inside, Outside, Loop, Waits };

    // False when the policy left what was at the link's name.
    bool CreateHard(const Link& link, const DestinationFolder::Replaceable& writtenByRun) const;
    // Symbolic links whose target walks through another one not made yet wait for it.
    void CreateSymbolic(std::vector<Link> links, const DestinationFolder::Replaceable& writtenByRun, const Report& report) const;
    // Walks the target: waiting are the links not made yet, refused those refused (by names).
    Verdict Judge(const Link& link, const std::map<std::vector<std::string>, std::size_t>& waiting,
                  const std::map<std::vector<std::string>, std::string>& refused) const;
    // A new file at the link's place, filled by fill (given its descriptor); false as CreateHard.
    bool WriteFile(const Link& link, const DestinationFolder::Replaceable& writtenByRun, const std::function<void(int)>& fill) const;

    const DestinationFolder* destination_;
    const bool asFiles_;
    std::vector<Link> links_;
};

}  // namespace Zorvik::Cli
