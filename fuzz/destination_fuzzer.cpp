// libFuzzer target: the command line's destination logic (DestinationFolder and DeferredLinks)
// given entry names and link targets as an extraction gives them, against a real scratch
// folder. Nothing may appear outside the destination, nothing outside may change, and no link
// made may lead outside. The destination starts with links that lead out, as one an earlier run
// or another program left there might.
//
// Input: the first byte picks the policy for existing files and whether links become files;
// then one entry a line: a kind ('f' file, 'd' folder, 's' symbolic link, 'h' hard link), the
// entry's path, and for links a tab and the target. Paths are split as the item tree splits them.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <unordered_set>

#include "cli/extracting/DeferredLinks.h"
#include "cli/extracting/DestinationFolder.h"
#include "zorvik/runtime/com_ptr.h"

namespace {

namespace fs = std::filesystem;
using Zorvik::Cli::DeferredLinks;
using Zorvik::Cli::DestinationFolder;
using Zorvik::Cli::ExistingFiles;

constexpr std::string_view kVictimContent = "outside";

struct Scratch {
    fs::path top;
    fs::path destination;
    fs::path outside;
    fs::path victim;
};

const Scratch& TheScratch() {
    static const Scratch scratch = [] {
        std::string pattern = "/tmp/zorvik-fuzz-destination-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        Scratch made{pattern, fs::path(pattern) / "destination", fs::path(pattern) / "outside", fs::path(pattern) / "outside" / "victim"};
        fs::create_directory(made.outside);
        std::ofstream(made.victim) << kVictimContent;
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(TheScratch().top, ignored);
        });
        return made;
    }();
    return scratch;
}

[[noreturn]] void Finding(const std::string& what) {
    std::fprintf(stderr, "destination escaped: %s\n", what.c_str());
    std::abort();
}

std::vector<std::wstring> Components(std::string_view path) {
    std::vector<std::wstring> components;
    std::string current;
    for (const char c : path) {
        if (c == '/' || c == '\\') {
            components.push_back(zorvik::rt::to_wide(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    components.push_back(zorvik::rt::to_wide(current));
    return components;
}

struct FileIdentityHash {
    std::size_t operator()(const DestinationFolder::FileIdentity& file) const noexcept { return file.inode ^ file.device; }
};

void Extract(std::string_view script, ExistingFiles policy, bool linksAsFiles, const Scratch& scratch) {
    DestinationFolder destination(scratch.destination.string());
    DeferredLinks links(&destination, linksAsFiles);
    std::unordered_set<DestinationFolder::FileIdentity, FileIdentityHash> written;
    const auto writtenByRun = [&](DestinationFolder::FileIdentity file) { return written.count(file) != 0; };
    std::size_t tag = 0;
    while (!script.empty()) {
        const std::size_t end = std::min(script.find('\n'), script.size());
        std::string_view line = script.substr(0, end);
        script.remove_prefix(std::min(end + 1, script.size()));
        if (line.empty()) continue;
        const char kind = line.front();
        line.remove_prefix(1);
        const std::size_t tab = std::min(line.find('\t'), line.size());
        const auto path = Components(line.substr(0, tab));
        const std::string target(line.substr(std::min(tab + 1, line.size())));
        try {
            switch (kind) {
            case 'f':
                links.Forget(path);
                if (auto file = destination.CreateFile(path, policy, writtenByRun)) {
                    if (::write(file->file.get(), "data", 4) != 4) {
                        DestinationFolder::Remove(*file);
                        break;
                    }
                    destination.Commit(*file);
                    written.insert(DestinationFolder::Identity(file->file.get()));
                }
                break;
            case 'd': destination.CreateFolder(path); break;
            case 's':
                // The extraction refuses these before they become links.
                if (target.empty() || target.find('\0') != std::string::npos) break;
                links.AddSymbolic({tag++, 0, 0777}, path, target, policy);
                break;
            case 'h': links.AddHard({tag++, 0, 0644}, path, Components(target), policy); break;
            default: break;
            }
        } catch (const Zorvik::Cli::RefusedName&) {
        } catch (const Zorvik::Cli::ItemWriteError&) {
        }
    }
    links.Create(writtenByRun, [](std::size_t, const DeferredLinks::Outcome&) {});
}

// What the destination starts with: links out of it, relative and absolute.
void Prepare(const Scratch& scratch) {
    fs::create_directory(scratch.destination);
    fs::create_directory(scratch.destination / "folder");
    fs::create_directory_symlink("../outside", scratch.destination / "up");
    fs::create_directory_symlink(scratch.outside, scratch.destination / "absolute");
    fs::create_symlink(scratch.victim, scratch.destination / "folder" / "victim");
}

void Check(const Scratch& scratch) {
    const std::set<fs::path> prepared = {scratch.destination / "up", scratch.destination / "absolute",
                                         scratch.destination / "folder" / "victim"};
    for (const auto& entry : fs::recursive_directory_iterator(scratch.top)) {
        const fs::path& path = entry.path();
        if (path == scratch.destination || path == scratch.outside || path == scratch.victim) continue;
        const auto [inside, ignored] = std::mismatch(scratch.destination.begin(), scratch.destination.end(), path.begin(), path.end());
        if (inside != scratch.destination.end()) Finding("created " + path.string());
        if (!entry.is_symlink() || prepared.count(path)) continue;
        std::error_code error;
        const fs::path resolved = fs::weakly_canonical(path, error);
        if (error) continue;  // a loop leads nowhere
        const auto [within, unused] =
            std::mismatch(scratch.destination.begin(), scratch.destination.end(), resolved.begin(), resolved.end());
        if (within != scratch.destination.end()) Finding("link " + path.string() + " leads to " + resolved.string());
    }
    struct stat victim {};
    if (::lstat(scratch.victim.c_str(), &victim) != 0 || !S_ISREG(victim.st_mode) || victim.st_nlink != 1 ||
        victim.st_size != static_cast<off_t>(kVictimContent.size()) || (victim.st_mode & 07777) != 0644)
        Finding("the file outside changed");
    std::ifstream in(scratch.victim);
    const std::string content{std::istreambuf_iterator<char>(in), {}};
    if (content != kVictimContent) Finding("the file outside was written");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::umask(022);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    constexpr ExistingFiles kPolicies[] = {ExistingFiles::Fail, ExistingFiles::Overwrite, ExistingFiles::Skip, ExistingFiles::Overwrite};
    const ExistingFiles policy = kPolicies[data[0] & 3];
    const bool linksAsFiles = (data[0] & 4) != 0;
    const Scratch& scratch = TheScratch();
    fs::remove_all(scratch.destination);
    Prepare(scratch);
    try {
        Extract(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), policy, linksAsFiles, scratch);
    } catch (const Zorvik::Cli::ItemWriteError&) {
    } catch (const Zorvik::Cli::RefusedName&) {
    }
    Check(scratch);
    fs::remove_all(scratch.destination);
    return 0;
}
