// The links an extraction makes once every file is written: a hard link needs its target in
// place, and a symbolic link is judged against the tree as it ends up, so that none leads
// outside the destination, whatever the order of the entries. A symbolic link's target is
// walked name by name from the link's folder, through the links already there and those of
// the run; it is made only when no step leaves the destination (an absolute target, ".." above
// it, or a link on the way that does either). With asFiles, a symbolic link becomes a file
// holding its target and a hard link a copy of its target.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/DestinationFolder.h"
#include "cli/EntryList.h"

namespace Zorvik::Cli {

class DeferredLinks {
public:
    // Told of each link not made: why it failed, or nothing when --skip-existing left what was
    // at its name.
    using Report = std::function<void(const Entry&, std::optional<std::string> failure)>;

    DeferredLinks(const DestinationFolder* destination, bool asFiles) : destination_(destination), asFiles_(asFiles) {}

    // A link to make at destination (components from the destination folder); a later link or
    // file of the same name replaces one not made yet.
    void AddSymbolic(const Entry& entry, std::vector<std::wstring> destination, std::string target, ExistingFiles existing);
    void AddHard(const Entry& entry, std::vector<std::wstring> destination, ExistingFiles existing);
    void Forget(const std::vector<std::wstring>& destination);

    // Makes them all, hard links first. written maps the normalised archive path of each file
    // this run wrote to where it went: a hard link's target must be one.
    void Create(const std::map<std::string, std::vector<std::wstring>>& written, const Report& notMade);

private:
    struct Link {
        const Entry* entry = nullptr;
        std::vector<std::wstring> destination;
        std::string target;  // a symbolic link's; empty for a hard link
        ExistingFiles existing = ExistingFiles::Fail;
        bool hard = false;
    };
    enum class Verdict { Inside, Outside, Loop, Waits };

    // False when the policy left what was at the link's name.
    bool CreateHard(const Link& link, const std::map<std::string, std::vector<std::wstring>>& written) const;
    // Symbolic links whose target walks through another one not made yet wait for it.
    void CreateSymbolic(std::vector<Link> links, const Report& notMade) const;
    // Walks the target: waiting are the links not made yet, refused those refused (by names).
    Verdict Judge(const Link& link, const std::map<std::vector<std::string>, std::size_t>& waiting,
                  const std::map<std::vector<std::string>, std::string>& refused) const;
    // A new file at the link's place, filled by fill (given its descriptor); false as CreateHard.
    bool WriteFile(const Link& link, const std::function<void(int)>& fill) const;

    const DestinationFolder* destination_;
    const bool asFiles_;
    std::vector<Link> links_;
};

}  // namespace Zorvik::Cli
