// Gives extracted files their names on a thread of its own, in the order they came, while the
// engine decodes the next entries: the system calls that end a file (mode, name, time, close)
// cost as much as writing a small one, and the second core is otherwise idle.
#pragma once

#include <time.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/extracting/DestinationFolder.h"

namespace Zorvik::Cli {

class CommitQueue {
public:
    // How one commit went, in the order they were queued.
    struct Outcome {
        DestinationFolder::FileIdentity identity;  // of the file that took the name
        std::optional<std::string> failure;        // why it has no name (its output is removed)
    };

    // Commits into destination, which outlives the queue (none: nothing is ever queued).
    explicit CommitQueue(const DestinationFolder* destination) : destination_(destination) {}
    // Finishes what is queued.
    ~CommitQueue();
    CommitQueue(const CommitQueue&) = delete;
    CommitQueue& operator=(const CommitQueue&) = delete;

    // Queues the file's commit and, when given, its modification time; waits while many are
    // queued. The file is taken only once it is queued.
    void Push(DestinationFolder::CreatedFile&& file, std::optional<timespec> modified);
    // The outcomes of the commits done since the last call; of every commit queued, when wait.
    std::vector<Outcome> Take(bool wait);

private:
    struct Job {
        DestinationFolder::CreatedFile file;
        std::optional<timespec> modified;
    };
    // The thread wakes for a batch of commits, not for each: waking a thread costs about as
    // much as the commit itself. At most kMaxQueued wait, their descriptors far below the limit.
    static constexpr std::size_t kBatch = 16;
    static constexpr std::size_t kMaxQueued = 64;

    // Whether the thread has work to do now.
    bool Ready() const noexcept { return jobs_.size() >= kBatch || (!jobs_.empty() && (awaited_ || closing_)); }
    void Work();
    Outcome Commit(Job& job) const;

    const DestinationFolder* destination_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;
    std::vector<Outcome> done_;
    bool awaited_ = false;  // the caller waits for every outcome
    bool closing_ = false;
    std::size_t pending_ = 0;  // the caller's count: pushed, outcome not taken
    std::thread worker_;       // started with the first commit
};

}  // namespace Zorvik::Cli
