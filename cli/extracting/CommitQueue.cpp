#include "cli/extracting/CommitQueue.h"

#include <iterator>

namespace Zorvik::Cli {

CommitQueue::~CommitQueue() {
    if (!worker_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

void CommitQueue::Push(DestinationFolder::CreatedFile&& file, std::optional<timespec> modified) {
    if (!worker_.joinable()) worker_ = std::thread([this] { Work(); });
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return jobs_.size() < kMaxQueued; });
    jobs_.push_back({std::move(file), modified});
    ++pending_;
    if (Ready()) changed_.notify_all();
}

std::vector<CommitQueue::Outcome> CommitQueue::Take(bool wait) {
    std::vector<Outcome> outcomes;
    if (pending_ == 0) return outcomes;
    std::unique_lock lock(mutex_);
    if (wait) {
        awaited_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return done_.size() == pending_; });
        awaited_ = false;
    }
    // Moved out rather than swapped, so that done_ keeps the room it grew to.
    outcomes.assign(std::make_move_iterator(done_.begin()), std::make_move_iterator(done_.end()));
    done_.clear();
    pending_ -= outcomes.size();
    return outcomes;
}

void CommitQueue::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return closing_ || Ready(); });
        if (jobs_.empty()) return;
        while (!jobs_.empty()) {
            Job job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            Outcome outcome = Commit(job);
            job = {};  // closes the file outside the lock
            lock.lock();
            done_.push_back(std::move(outcome));
        }
        // For the caller waiting for outcomes or for room.
        changed_.notify_all();
    }
}

CommitQueue::Outcome CommitQueue::Commit(Job& job) const {
    try {
        destination_->Commit(job.file);
        Outcome outcome{DestinationFolder::Identity(job.file.file.get())};
        if (job.modified) DestinationFolder::SetModified(job.file, *job.modified);
        return outcome;
    } catch (const std::exception& error) {
        DestinationFolder::Remove(job.file);
        return {{}, error.what()};
    }
}

}  // namespace Zorvik::Cli
