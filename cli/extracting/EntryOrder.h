// What a run says about entries, said in the archive's order while several threads decode them:
// each entry's lines go out as soon as every entry before it has finished, so that only the
// lines of entries ahead of their turn are held, never the whole run's.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace Zorvik::Cli {

class EntryOrder {
public:
    // expected: the indices of the entries the run will finish, ascending. Lines of other
    // indices wait until the entries before them are out, and the end for the rest.
    explicit EntryOrder(std::vector<std::uint32_t> expected);

    // Said now if the entry's turn has come, else held until it does.
    void Say(std::uint32_t index, std::function<void()> line);
    // Nothing more comes of the entry out of turn; atTurn runs when its turn comes (and may say
    // more of it, which goes out at once).
    void Finish(std::uint32_t index, std::function<void()> atTurn = {});
    // The end of the run: whatever is held, in order; from now on every line is said at once.
    void Flush();

private:
    struct Held {
        std::vector<std::function<void()>> lines;
        std::function<void()> atTurn;
        bool finished = false;
    };

    // The index whose turn it is; none (the end) past the last expected one.
    bool Ahead(std::uint32_t index) const noexcept { return !flushed_ && (next_ == expected_.size() || index > expected_[next_]); }
    // Says what is held before the current turn and of it, and moves on while the turn's entry
    // is finished.
    void Advance();
    static void SayAll(Held& held);

    const std::vector<std::uint32_t> expected_;
    std::size_t next_ = 0;
    std::map<std::uint32_t, Held> held_;
    bool flushed_ = false;
};

}  // namespace Zorvik::Cli
