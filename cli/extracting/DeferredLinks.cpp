#include "cli/extracting/DeferredLinks.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>

#include "cli/reading/FileTime.h"
#include "cli/terminal/Failure.h"
#include "cli/terminal/Text.h"
#include "zorvik/runtime/com_ptr.h"

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

std::optional<timespec> TimeOf(const DeferredLinks::Source& source) {
    if (source.modified == 0) return std::nullopt;
    return ToTimespec(source.modified);
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

void DeferredLinks::AddSymbolic(Source source, std::vector<std::wstring> destination, std::string target, ExistingFiles existing) {
    Forget(destination);
    links_.push_back(Link{source, std::move(destination), std::move(target), {}, existing, false});
}

void DeferredLinks::AddHard(Source source, std::vector<std::wstring> destination, std::vector<std::wstring> target,
                            ExistingFiles existing) {
    Forget(destination);
    links_.push_back(Link{source, std::move(destination), {}, std::move(target), existing, true});
}

void DeferredLinks::Forget(const std::vector<std::wstring>& destination) {
    std::erase_if(links_, [&](const Link& link) { return link.destination == destination; });
}

void DeferredLinks::Create(const DestinationFolder::Replaceable& writtenByRun, const Report& report) {
    std::vector<Link> symbolic;
    for (Link& link : std::exchange(links_, {})) {
        if (!link.hard && !asFiles_) {
            symbolic.push_back(std::move(link));
            continue;
        }
        Outcome outcome;
        try {
            outcome.made = link.hard ? CreateHard(link, writtenByRun) : WriteFile(link, writtenByRun, [&](int file) {
                if (::write(file, link.target.data(), link.target.size()) != static_cast<ssize_t>(link.target.size()))
                    throw ItemWriteError("cannot write it: " + DescribeErrno(errno), errno);
            });
        } catch (const RefusedName& error) {
            outcome.failure = std::string("refused: ") + error.what();
        } catch (const std::exception& error) {
            outcome.failure = error.what();
        }
        report(link.source.tag, outcome);
    }
    CreateSymbolic(std::move(symbolic), writtenByRun, report);
}

bool DeferredLinks::CreateHard(const Link& link, const DestinationFolder::Replaceable& writtenByRun) const {
    const auto notExtracted = [&] {
        std::wstring target;
        for (const std::wstring& name : link.hardTarget) target += (target.empty() ? L"" : L"/") + name;
        return ItemWriteError("not made: its target " + Printable(zorvik::rt::to_utf8(target)) + " was not extracted");
    };
    zorvik::rt::unique_fd source;
    try {
        source = destination_->OpenFile(link.hardTarget);
    } catch (const ItemWriteError&) {
        throw notExtracted();
    }
    if (!writtenByRun(DestinationFolder::Identity(source.get()))) throw notExtracted();
    if (!asFiles_) return destination_->CreateHardLink(link.destination, link.hardTarget, link.existing, writtenByRun);
    return WriteFile(link, writtenByRun, [&](int file) { CopyAll(source.get(), file); });
}

bool DeferredLinks::WriteFile(const Link& link, const DestinationFolder::Replaceable& writtenByRun,
                              const std::function<void(int)>& fill) const {
    auto created = destination_->CreateFile(link.destination, link.existing, writtenByRun);
    if (!created) return false;
    try {
        fill(created->file.get());
        // A link's own permission bits mean nothing; a copy takes those of the file.
        if (link.hard && link.source.mode != 0) created->mode = link.source.mode;
        destination_->Commit(*created);
        if (const auto modified = TimeOf(link.source)) DestinationFolder::SetModified(*created, *modified);
    } catch (...) {
        DestinationFolder::Remove(*created);
        throw;
    }
    return true;
}

void DeferredLinks::CreateSymbolic(std::vector<Link> links, const DestinationFolder::Replaceable& writtenByRun,
                                   const Report& report) const {
    const auto fail = [&](const Link& link, std::string failure) { report(link.source.tag, Outcome{false, std::move(failure)}); };
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
                // A link must have a name of its own, as a file must: the walk starts from its
                // folder.
                const std::vector<std::wstring>& destination = links[i].destination;
                if (destination.empty() || destination.back().empty() || destination.back() == L".") throw RefusedName("invalid file name");
                waiting.emplace(DestinationFolder::Names(destination), i);
            } catch (const RefusedName& error) {
                fail(links[i], std::string("refused: ") + error.what());
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
                if (verdict == Verdict::Outside)
                    throw RefusedName("its target leads outside the destination (" + Printable(link.target) + ")");
                if (verdict == Verdict::Loop) throw RefusedName("its target leads round a loop of links (" + Printable(link.target) + ")");
                const bool made =
                    destination_->CreateSymbolicLink(link.destination, link.target, link.existing, TimeOf(link.source), writtenByRun);
                report(link.source.tag, Outcome{made, std::nullopt});
            } catch (const RefusedName& error) {
                fail(link, std::string("refused: ") + error.what());
            } catch (const std::exception& error) {
                fail(link, error.what());
            }
        }
    }
    // What still waits, waits on itself through other links: its walk never ends.
    for (std::size_t i = 0; i < links.size(); ++i)
        if (!done[i]) fail(links[i], "refused: its target leads round a loop of links (" + Printable(links[i].target) + ")");
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
