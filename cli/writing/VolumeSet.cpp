#include "cli/writing/VolumeSet.h"

#include <fmt/format.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

#include "cli/terminal/ExitCode.h"
#include "cli/terminal/Interrupt.h"

namespace Zorvik::Cli {

namespace {

// Every volume stays open until the set is named, with a few descriptors each (ArchiveReplacement's
// and the component's stream), so a set of many volumes needs more than the usual soft limit.
void AllowAllOpenFiles() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

// Runs step for indices 0 to count - 1 on a few threads; the first failure is raised once all end.
template <typename Step>
void EachAtOnce(std::size_t count, const Step& step) {
    constexpr std::size_t kThreads = 16;
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::exception_ptr failure;
    const auto work = [&] {
        for (std::size_t index; (index = next++) < count;) {
            try {
                step(index);
            } catch (...) {
                std::lock_guard lock(mutex);
                if (!failure) failure = std::current_exception();
            }
        }
    };
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < std::min(count, kThreads); ++i) threads.emplace_back(work);
    work();
    for (auto& thread : threads) thread.join();
    if (failure) std::rethrow_exception(failure);
}

bool IsFile(const std::string& path, struct stat& info) { return ::lstat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode); }

}  // namespace

std::string VolumeSet::VolumeName(const std::string& archive, std::uint32_t number) { return fmt::format("{}.{:03}", archive, number); }

VolumeSet::VolumeSet(const std::string& archive) : archive_(archive) {
    AllowAllOpenFiles();
    struct stat info {};
    for (std::uint32_t number = 1; ::stat(VolumeName(archive, number).c_str(), &info) == 0; ++number)
        existing_.emplace_back(info.st_dev, info.st_ino);
    volumes_.push_back(std::make_unique<ArchiveReplacement>(VolumeName(archive, 1)));
}

bool VolumeSet::IsVolume(const struct stat& file) const noexcept {
    for (const auto& [device, inode] : existing_)
        if (file.st_dev == device && file.st_ino == inode) return true;
    for (const auto& volume : volumes_)
        if (volume->IsArchiveOrTemporary(file)) return true;
    return false;
}

zorvik::Stream VolumeSet::Add(std::uint32_t number) {
    if (number != volumes_.size() + 1) throw CommandError(ExitCode::Failed, VolumeName(archive_, number), "asked for out of turn");
    volumes_.push_back(std::make_unique<ArchiveReplacement>(VolumeName(archive_, number)));
    return volumes_.back()->Stream();
}

std::uint64_t VolumeSet::WrittenSize() const {
    std::uint64_t size = 0;
    for (const auto& volume : volumes_) size += volume->WrittenSize();
    return size;
}

void VolumeSet::Commit(bool replaceExisting) {
    if (Interrupt::Requested()) throw CommandError(ExitCode::Interrupted, archive_, "interrupted");
    // Volumes the engine cut off again hold nothing; their temporary files go with them.
    if (count_ < volumes_.size()) volumes_.resize(count_);
    if (!replaceExisting) {
        struct stat info {};
        for (std::uint32_t number = 1; number <= count_; ++number)
            if (volumes_[number - 1]->Exists())
                throw CommandError(ExitCode::Failed, VolumeName(archive_, number), "exists (give --force to replace it)");
        if (const std::string next = VolumeName(archive_, count_ + 1); IsFile(next, info))
            throw CommandError(ExitCode::Failed, next,
                               "exists, and would be read as the next volume of " + archive_ + " (give --force to remove it)");
    }

    // Every volume reaches the disk before any is named, so that the names follow each other
    // at once; the syncs run side by side, which the file system takes in far fewer commits.
    for (const auto& volume : volumes_) volume->Prepare();
    EachAtOnce(volumes_.size(), [&](std::size_t index) { volumes_[index]->Sync(); });
    if (Interrupt::Requested()) throw CommandError(ExitCode::Interrupted, archive_, "interrupted");
    std::size_t named = 0;
    try {
        for (; named < volumes_.size(); ++named) volumes_[named]->Name(replaceExisting);
    } catch (...) {
        // A set that was not there before is not left in part; one replaced cannot be had back.
        if (!replaceExisting)
            for (std::size_t index = 0; index < named; ++index) ::unlink(volumes_[index]->RealPath().c_str());
        throw;
    }
    volumes_.front()->SyncFolder();
    if (replaceExisting) {
        struct stat info {};
        for (std::uint32_t number = count_ + 1; IsFile(VolumeName(archive_, number), info); ++number)
            ::unlink(VolumeName(archive_, number).c_str());
    }
}

}  // namespace Zorvik::Cli
