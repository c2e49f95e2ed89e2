#include "cli/terminal/ProgressBar.h"

#include <fmt/format.h>

#include <algorithm>

namespace Zorvik::Cli {

std::string ReadableSize(std::uint64_t bytes) {
    if (bytes < 1024) return fmt::format("{} B", bytes);
    const char* units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    return fmt::format("{:.1f} {}", value, units[unit]);
}

namespace {
std::string Duration(double seconds) {
    const auto whole = static_cast<std::uint64_t>(seconds + 0.5);
    if (whole >= 3600) return fmt::format("{}:{:02}:{:02}", whole / 3600, whole / 60 % 60, whole % 60);
    return fmt::format("{}:{:02}", whole / 60, whole % 60);
}
}  // namespace

std::string RenderProgress(std::uint64_t done, std::uint64_t total, double elapsedSeconds, std::size_t width) {
    done = total > 0 ? std::min(done, total) : done;
    const double fraction = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0;
    const double rate = elapsedSeconds > 0 ? static_cast<double>(done) / elapsedSeconds : 0.0;
    std::string tail =
        fmt::format(" {} / {}  {}/s", ReadableSize(done), ReadableSize(total), ReadableSize(static_cast<std::uint64_t>(rate)));
    if (rate > 0 && total > done) tail += "  ETA " + Duration(static_cast<double>(total - done) / rate);
    const std::string head = fmt::format("{:3}% ", static_cast<int>(fraction * 100));
    // The bar keeps one width while the numbers change; a narrow terminal gets the text only.
    constexpr std::size_t kLongestText = 60;
    if (width < kLongestText + 12) return (head + tail).substr(0, width);
    const std::size_t inner = std::min<std::size_t>(width - kLongestText - 2, 30);
    const auto filled = static_cast<std::size_t>(fraction * static_cast<double>(inner));
    return head + "[" + std::string(filled, '#') + std::string(inner - filled, ' ') + "]" + tail;
}

}  // namespace Zorvik::Cli
