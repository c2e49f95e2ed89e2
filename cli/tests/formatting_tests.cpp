// Times, progress and JSON text as the tool prints them.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/reading/FileTime.h"
#include "cli/terminal/ProgressBar.h"
#include "cli/terminal/Text.h"

namespace Zorvik::Cli {
namespace {

constexpr std::int64_t kTicksAt1970 = 116444736000000000;

TEST(FileTime, TicksSince1601BecomeUtcTimesTruncatedToSeconds) {
    EXPECT_EQ(IsoUtc(0), std::nullopt) << "0 stands for no time";
    EXPECT_EQ(IsoUtc(kTicksAt1970), "1970-01-01T00:00:00Z");
    EXPECT_EQ(IsoUtc(kTicksAt1970 + 1714558830LL * 10000000 + 9999999), "2024-05-01T10:20:30Z");
    EXPECT_EQ(IsoUtc(kTicksAt1970 - 5), "1969-12-31T23:59:59Z") << "before 1970 rounds toward the past";
    EXPECT_EQ(IsoUtc(1), "1601-01-01T00:00:00Z");
    // 2^40 seconds after 1970 is a FILETIME beyond the signed range that carries it.
    const auto farFuture = static_cast<std::int64_t>(static_cast<std::uint64_t>(kTicksAt1970) + (1ULL << 40) * 10000000);
    EXPECT_EQ(IsoUtc(farFuture), "36812-02-20T00:36:16Z");
    EXPECT_EQ(TableTime(kTicksAt1970 + 86400LL * 10000000), "1970-01-02 00:00:00");
    EXPECT_EQ(TableTime(0), std::string(19, ' '));

    const timespec before = ToTimespec(kTicksAt1970 - 5);
    EXPECT_EQ(before.tv_sec, -1);
    EXPECT_EQ(before.tv_nsec, 999999500);
}

TEST(ProgressBar, FitsTheWidthAndShowsRateAndTimeLeft) {
    EXPECT_EQ(ReadableSize(512), "512 B");
    EXPECT_EQ(ReadableSize(1536), "1.5 KiB");
    EXPECT_EQ(ReadableSize(3ULL << 30), "3.0 GiB");

    const std::string half = RenderProgress(50 << 20, 100 << 20, 10.0, 120);
    EXPECT_EQ(half.rfind(" 50% [", 0), 0u) << half;
    EXPECT_NE(half.find("50.0 MiB / 100.0 MiB  5.0 MiB/s  ETA 0:10"), std::string::npos) << half;
    for (std::size_t width : {20u, 70u, 80u, 200u}) EXPECT_LE(RenderProgress(7, 100 << 20, 0.5, width).size(), width);
    EXPECT_EQ(RenderProgress(10, 100, 1.0, 80).find('['), RenderProgress(90, 100, 1.0, 80).find('[')) << "the bar stays put";
    EXPECT_EQ(RenderProgress(200, 100, 1.0, 120).rfind("100% ", 0), 0u) << "never beyond the total";
}

TEST(JsonString, AJsonParserReadsBackTheTextWithUnreadableBytesReplaced) {
    const struct {
        std::string text;
        std::string parsed;
    } cases[] = {
        {"plain/name.txt", "plain/name.txt"},
        {"quote\" back\\slash", "quote\" back\\slash"},
        {"ctl\b\t\n\f\r\x01\x1F\x7F", "ctl\b\t\n\f\r\x01\x1F\x7F"},
        {std::string("nul\0end", 7), std::string("nul\0end", 7)},
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
        {"bad\xFF\xC3", "bad\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"escaped\xEE\xBF\xBF", "escaped\xEF\xBF\xBD"},  // U+EFFF: a byte kept from a name that is not UTF-8
    };
    for (const auto& [text, parsed] : cases) {
        const std::string literal = JsonString(text);
        EXPECT_EQ(nlohmann::json::parse(literal).get<std::string>(), parsed) << literal;
    }
}

}  // namespace
}  // namespace Zorvik::Cli
