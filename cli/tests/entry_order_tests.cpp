// Lines said of entries out of turn go out in the archive's order, each as soon as every entry
// before it has finished, not at the end of the run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/extracting/EntryOrder.h"

namespace Zorvik::Cli {
namespace {

TEST(EntryOrder, EachEntryIsSaidOnceTheEntriesBeforeItAreFinished) {
    struct Step {
        char event;  // 'S': say a line of index, 'F': finish index (its turn says "+index"), 'E': the end
        std::uint32_t index;
        std::string said;  // what has gone out by then
    };
    struct Case {
        const char* name;
        std::vector<std::uint32_t> expected;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"in order, at once", {1, 2}, {{'S', 1, "1"}, {'F', 1, "1+1"}, {'S', 2, "1+12"}, {'F', 2, "1+12+2"}}},
        {"ahead of its turn, held until the turn comes",
         {1, 2, 3},
         {{'S', 3, ""}, {'F', 3, ""}, {'S', 2, ""}, {'S', 1, "1"}, {'F', 2, "1"}, {'F', 1, "1+12+23+3"}}},
        {"a turn that came says at once what follows of it", {1, 2}, {{'S', 2, ""}, {'F', 1, "+12"}, {'S', 2, "+122"}}},
        {"an entry not expected goes out once those before it are", {2, 5}, {{'S', 3, ""}, {'F', 2, "+23"}, {'S', 4, "+234"}}},
        {"the end says what is held, in order", {1, 2, 3}, {{'S', 3, ""}, {'F', 2, ""}, {'S', 9, ""}, {'E', 0, "+239"}}},
        {"after the end, everything at once", {1}, {{'E', 0, ""}, {'S', 7, "7"}, {'F', 1, "7+1"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string said;
        EntryOrder order(c.expected);
        for (const Step& step : c.steps) {
            const std::string index = std::to_string(step.index);
            if (step.event == 'S') order.Say(step.index, [&said, index] { said += index; });
            if (step.event == 'F') order.Finish(step.index, [&said, index] { said += "+" + index; });
            if (step.event == 'E') order.Flush();
            EXPECT_EQ(said, step.said) << step.event << step.index;
        }
    }
}

}  // namespace
}  // namespace Zorvik::Cli
