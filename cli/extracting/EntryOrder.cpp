#include "cli/extracting/EntryOrder.h"

#include <utility>

namespace Zorvik::Cli {

EntryOrder::EntryOrder(std::vector<std::uint32_t> expected) : expected_(std::move(expected)) {}

void EntryOrder::SayAll(Held& held) {
    for (const auto& line : std::exchange(held.lines, {})) line();
}

void EntryOrder::Say(std::uint32_t index, std::function<void()> line) {
    if (Ahead(index))
        held_[index].lines.push_back(std::move(line));
    else
        line();
}

void EntryOrder::Finish(std::uint32_t index, std::function<void()> atTurn) {
    if (flushed_ || (!Ahead(index) && index != expected_[next_])) {
        // Its turn has passed (or the run has ended): nothing waits for it.
        if (atTurn) atTurn();
        return;
    }
    Held& held = held_[index];
    held.finished = true;
    held.atTurn = std::move(atTurn);
    Advance();
}

void EntryOrder::Advance() {
    while (next_ < expected_.size()) {
        const std::uint32_t turn = expected_[next_];
        // Lines of entries the run did not expect, before this one.
        while (!held_.empty() && held_.begin()->first < turn) {
            auto first = held_.extract(held_.begin());
            SayAll(first.mapped());
            if (first.mapped().atTurn) first.mapped().atTurn();
        }
        const auto found = held_.find(turn);
        if (found == held_.end()) return;
        Held& held = found->second;
        SayAll(held);
        if (!held.finished) return;
        std::function<void()> atTurn = std::move(held.atTurn);
        held_.erase(found);
        ++next_;
        if (atTurn) atTurn();
    }
}

void EntryOrder::Flush() {
    flushed_ = true;
    for (auto& [index, held] : std::exchange(held_, {})) {
        SayAll(held);
        if (held.atTurn) held.atTurn();
    }
}

}  // namespace Zorvik::Cli
