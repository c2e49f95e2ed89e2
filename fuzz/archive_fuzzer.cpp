// libFuzzer target: any archive opened, walked and extracted through the C++ projection, as an
// application does. The first byte picks the file's extension (which formats are
// probed first) and whether a password is given when asked; the rest is the file. Probing
// reaches every engine format and the RAR reader, and a compressed archive inside is opened too.
#include <array>

#include "fuzz/FuzzApplication.h"

namespace {

// Extensions that steer probing, and none, which leaves it to the signatures.
constexpr std::array<const char*, 16> kExtensions = {"",    "7z",  "zip", "rar", "tar",  "gz",  "xz",  "bz2",
                                                     "iso", "cab", "arj", "lzh", "cpio", "wim", "zst", "001"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string extension = kExtensions[data[0] & 0x0F];
    const bool givePassword = (data[0] & 0x10) != 0;
    const std::string_view file(reinterpret_cast<const char*>(data + 1), size - 1);
    zorvik::fuzz::OpenWalkExtract(zorvik::Stream::memory(file), extension.empty() ? "input" : "input." + extension, givePassword);
    return 0;
}
