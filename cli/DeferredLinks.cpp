#include "cli/DeferredLinks.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>

#include "cli/FileTime.h"
#include "cli/Failure.h"
#include "cli/Text.h"

namespace Zorvik::Cli {

namespace {

// As the kernel, which gives up on a path after 40 links.
constexpr int kMostLinksOnAPath = 40;

std::deque<std::string> SplitTarget(const std::string& target) {
    std::deque<std::string> names;
    std::size_t start = 0;
    while (start <= target.size()) {
        const std::size_t end = std::min(target.find('/', start), target.size());
        names.push_back(target.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

std::optional<timespec> TimeOf(const Entry& entry) {
    if (entry.modified == 0) return std::nullopt;
    return ToTimespec(entry.modified);
}

void CopyAll(int from, int to) {
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t read = ::read(from, buffer.data(), buffer.size());
        if (read < 0 && errno == EINTR) continue;
        if (read < 0) throw ItemWriteError("cannot read its target: " + DescribeErrno(errno), errno);
        if (read == 0) return;
        for (ssize_t done = 0; done < read;) {
            const ssize_t written = ::write(to, buffer.data() + done, static_cast<std::size_t>(read - done));
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) throw ItemWriteError("cannot write it: " + DescribeErrno(errno), errno);
            done += written;
        }
    }
}

}  // namespace

void DeferredLinks::AddSymbolic(const Entry& entry, std::vector<std::wstring> destination, std::string target, ExistingFiles existing) {
    Forget(destination);
    links_.push_back(Link{&entry, std::move(destination), std::move(target), existing, false});
}

void DeferredLinks::AddHard(const Entry& entry, std::vector<std::wstring> destination, ExistingFiles existing) {
    Forget(destination);
    links_.push_back(Link{&entry, std::move(destination), {}, existing, true});
}

void DeferredLinks::Forget(const std::vector<std::wstring>& destination) {
    std::erase_if(links_, [&](const Link& link) { return link.destination == destination; });
}

void DeferredLinks::Create(const std::map<std::string, std::vector<std::wstring>>& written, const Report& notMade) {
    std::vector<Link> symbolic;
    for (Link& link : std::exchange(links_, {})) {
        if (!link.hard && !asFiles_) {
            symbolic.push_back(std::move(link));
            continue;
        }
        try {
            const bool made = link.hard ? CreateHard(link, written) : WriteFile(link, [&](int file) {
                if (::write(file, link.target.data(), link.target.size()) != static_cast<ssize_t>(link.target.size()))
                    throw ItemWriteError("cannot write it: " + DescribeErrno(errno), errno);
            });
            if (!made) notMade(*link.entry, std::nullopt);
        } catch (const std::exception& error) {
            notMade(*link.entry, error.what());
        }
    }
    CreateSymbolic(std::move(symbolic), notMade);
}

bool DeferredLinks::CreateHard(const Link& link, const std::map<std::string, std::vector<std::wstring>>& written) const {
    const std::string target = NormalizedPath(zorvik::rt::to_utf8(link.entry->hardLinkTarget));
    const auto found = written.find(target);
    if (found == written.end()) throw ItemWriteError("not made: its target " + Printable(target) + " was not extracted");
    if (!asFiles_) return destination_->CreateHardLink(link.destination, found->second, link.existing);
    const zorvik::rt::unique_fd source = destination_->OpenFile(found->second);
    return WriteFile(link, [&](int file) { CopyAll(source.get(), file); });
}

bool DeferredLinks::WriteFile(const Link& link, const std::function<void(int)>& fill) const {
    auto created = destination_->CreateFile(link.destination, link.existing);
    if (!created) return false;
    try {
        fill(created->file.get());
        // A link's own permission bits mean nothing; a copy takes those of the file.
        if (link.hard && link.entry->mode != 0) created->mode = link.entry->mode;
        destination_->Commit(*created);
        if (const auto modified = TimeOf(*link.entry)) DestinationFolder::SetModified(*created, *modified);
    } catch (...) {
        DestinationFolder::Remove(*created);
        throw;
    }
    return true;
}

void DeferredLinks::CreateSymbolic(std::vector<Link> links, const Report& notMade) const {
    // Each round makes the links whose walk met no link still to be made. A refused link still
    // counts where it would be, so that a link through it is refused too.
    std::vector<bool> done(links.size(), false);
    std::map<std::vector<std::string>, std::string> refused;
    for (bool progress = true; progress;) {
        progress = false;
        std::map<std::vector<std::string>, std::size_t> waiting;
        for (std::size_t i = 0; i < links.size(); ++i) {
            if (done[i]) continue;
            try {
                waiting.emplace(DestinationFolder::Names(links[i].destination), i);
            } catch (const RefusedName& error) {
                notMade(*links[i].entry, std::string("refused: ") + error.what());
                done[i] = true;
            }
        }
        for (auto [names, i] : waiting) {
            const Link& link = links[i];
            const Verdict verdict = Judge(link, waiting, refused);
            if (verdict == Verdict::Waits) continue;
            done[i] = progress = true;
            if (verdict != Verdict::Inside) refused.emplace(names, link.target);
            try {
                if (verdict == Verdict::Outside) throw RefusedName("its target leads outside the destination (" + Printable(link.target) + ")");
                if (verdict == Verdict::Loop) throw RefusedName("its target leads round a loop of links (" + Printable(link.target) + ")");
                if (!destination_->CreateSymbolicLink(link.destination, link.target, link.existing, TimeOf(*link.entry)))
                    notMade(*link.entry, std::nullopt);
            } catch (const RefusedName& error) {
                notMade(*link.entry, std::string("refused: ") + error.what());
            } catch (const std::exception& error) {
                notMade(*link.entry, error.what());
            }
        }
    }
    // What still waits, waits on itself through other links: its walk never ends.
    for (std::size_t i = 0; i < links.size(); ++i)
        if (!done[i]) notMade(*links[i].entry, "refused: its target leads round a loop of links (" + Printable(links[i].target) + ")");
}

DeferredLinks::Verdict DeferredLinks::Judge(const Link& link, const std::map<std::vector<std::string>, std::size_t>& waiting,
                                            const std::map<std::vector<std::string>, std::string>& refused) const {
    const std::vector<std::string> self = DestinationFolder::Names(link.destination);
    std::vector<std::string> at(self.begin(), self.end() - 1);
    if (link.target.empty() || link.target.front() == '/') return Verdict::Outside;
    std::deque<std::string> rest = SplitTarget(link.target);
    int linksMet = 0;
    while (!rest.empty()) {
        const std::string name = std::move(rest.front());
        rest.pop_front();
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            if (at.empty()) return Verdict::Outside;
            at.pop_back();
            continue;
        }
        at.push_back(name);
        if (at == self) return Verdict::Loop;
        if (waiting.count(at)) return Verdict::Waits;
        std::optional<std::string> next;
        if (const auto modelled = refused.find(at); modelled != refused.end()) {
            next = modelled->second;
        } else {
            try {
                next = destination_->SymbolicLinkAt(at);
            } catch (const RefusedName&) {
                return Verdict::Outside;
            }
        }
        if (!next) continue;
        if (++linksMet > kMostLinksOnAPath) return Verdict::Loop;
        if (next->empty() || next->front() == '/') return Verdict::Outside;
        at.pop_back();
        const std::deque<std::string> names = SplitTarget(*next);
        rest.insert(rest.begin(), names.begin(), names.end());
    }
    return Verdict::Inside;
}

}  // namespace Zorvik::Cli
