// One line of progress: bar, bytes done and total, rate and time left.
#pragma once

#include <cstdint>
#include <string>

namespace Zorvik::Cli {

// "1.5 MiB", "512 B".
std::string ReadableSize(std::uint64_t bytes);

// " 42% [########            ] 12.3 MiB / 30.0 MiB  5.1 MiB/s  ETA 0:04", at most width columns.
std::string RenderProgress(std::uint64_t done, std::uint64_t total, double elapsedSeconds, std::size_t width);

}  // namespace Zorvik::Cli
