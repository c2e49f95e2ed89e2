#include "cli/reading/FileTime.h"

#include <fmt/compile.h>

namespace Zorvik::Cli {

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;

// Whole seconds since 1970 and the remaining ticks. The ticks are an unsigned FILETIME carried
// in a signed value: past the year 30828 they read as negative.
std::pair<std::int64_t, std::int64_t> Split(std::int64_t ticks) {
    const auto unsignedTicks = static_cast<std::uint64_t>(ticks);
    const auto seconds = static_cast<std::int64_t>(unsignedTicks / kTicksPerSecond);
    const auto rest = static_cast<std::int64_t>(unsignedTicks % kTicksPerSecond);
    return {seconds - kSecondsFrom1601To1970, rest};
}

template <typename Pattern>
std::string Format(std::int64_t ticks, const Pattern& pattern, bool local = false) {
    const time_t seconds = static_cast<time_t>(Split(ticks).first);
    tm parts{};
    if (!(local ? localtime_r(&seconds, &parts) : gmtime_r(&seconds, &parts))) return {};
    return fmt::format(pattern, parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
}

}  // namespace

std::optional<std::string> IsoUtc(std::int64_t ticks) {
    if (ticks == 0) return std::nullopt;
    return Format(ticks, FMT_COMPILE("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z"));
}

std::string TableTime(std::int64_t ticks, bool local) {
    if (ticks == 0) return std::string(19, ' ');
    return Format(ticks, FMT_COMPILE("{:04}-{:02}-{:02} {:02}:{:02}:{:02}"), local);
}

timespec ToTimespec(std::int64_t ticks) {
    const auto [seconds, rest] = Split(ticks);
    timespec result{};
    result.tv_sec = static_cast<time_t>(seconds);
    result.tv_nsec = static_cast<long>(rest * 100);
    return result;
}

std::int64_t FromTimespec(const timespec& time) {
    return (static_cast<std::int64_t>(time.tv_sec) + kSecondsFrom1601To1970) * kTicksPerSecond + time.tv_nsec / 100;
}

std::int64_t TicksOf(std::optional<zorvik::Time> time) { return zorvik::detail::time_to_abi(time).UniversalTime; }

}  // namespace Zorvik::Cli
