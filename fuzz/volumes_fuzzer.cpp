// libFuzzer target: opening a multi-volume archive through the C++ projection. The
// first byte picks the naming of the volumes and whether a password is given; the rest is split
// at each kVolumeMarker into the volumes, the first of which is opened, and the others are what
// the volume callback hands out when the component asks for them by name.
#include <array>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

#include "fuzz/FuzzApplication.h"

namespace {

constexpr std::string_view kVolumeMarker =
    "\xff"
    "VOLUME"
    "\xff";
constexpr std::size_t kMostVolumes = 8;
// Volume requests a run answers; a handler that keeps asking is then stopped: the hook fails.
constexpr int kVolumeAnswers = 64;

// The name of volume index (from 0) in each naming the engine and the RAR reader know.
std::string VolumeName(int naming, std::size_t index, std::size_t count) {
    const std::string number = std::to_string(index + 1);
    switch (naming) {
    case 0: return "v.7z.00" + number;
    case 1: return "v.part" + number + ".rar";
    case 2: return index == 0 ? "v.rar" : "v.r0" + std::to_string(index - 1);
    default: return index + 1 == count ? "v.zip" : "v.z0" + number;  // the last one is the .zip
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int naming = data[0] & 0x03;
    const bool givePassword = (data[0] & 0x04) != 0;
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < kMostVolumes) {
        const auto marker = rest.find(kVolumeMarker);
        if (marker == std::string_view::npos) break;
        parts.push_back(rest.substr(0, marker));
        rest.remove_prefix(marker + kVolumeMarker.size());
    }
    parts.push_back(rest);

    // A zip's volumes are opened from the last one, which is named .zip.
    const std::size_t first = naming == 3 ? parts.size() - 1 : 0;
    std::map<std::string, std::string_view> volumes;
    for (std::size_t i = 0; i < parts.size(); ++i) volumes[VolumeName(naming, i, parts.size())] = parts[i];
    auto answers = std::make_shared<int>(0);
    auto getVolume = [volumes, answers](const std::string& requested) -> std::optional<zorvik::Stream> {
        if ((*answers)++ >= kVolumeAnswers) throw std::runtime_error("too many volumes asked for");
        const std::size_t slash = requested.find_last_of("/\\");
        const auto found = volumes.find(slash == std::string::npos ? requested : requested.substr(slash + 1));
        if (found == volumes.end()) return std::nullopt;
        return zorvik::Stream::memory(found->second);
    };
    const std::string name = VolumeName(naming, first, parts.size());
    zorvik::fuzz::OpenWalkExtract(zorvik::Stream::memory(parts[first]), name, givePassword, getVolume);
    return 0;
}
