// Entry times as the component gives them: 100-nanosecond ticks since 1601-01-01 UTC, 0 for an
// entry that records no time.
#pragma once

#include <time.h>

#include <cstdint>
#include <optional>
#include <string>

#include "zorvik/Zorvik.h"

namespace Zorvik::Cli {

// "2024-05-01T10:20:30Z"; none for 0.
std::optional<std::string> IsoUtc(std::int64_t ticks);
// "2024-05-01 10:20:30" for tables, in UTC or the local zone; blank of the same width for 0.
std::string TableTime(std::int64_t ticks, bool local = false);
// The same instant for utimensat/futimens.
timespec ToTimespec(std::int64_t ticks);
// A projected time as ticks since 1601; 0 for none.
std::int64_t TicksOf(std::optional<zorvik::Time> time);
// And back, from what stat gives.
std::int64_t FromTimespec(const timespec& time);

}  // namespace Zorvik::Cli
