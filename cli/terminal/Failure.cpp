#include "cli/terminal/Failure.h"

#include <fmt/format.h>

#include <unistd.h>

#include <cstring>

#include "zorvik/Archive.h"
#include "zorvik/Items.h"

namespace Zorvik::Cli {

std::string Describe(HRESULT hr) {
    switch (static_cast<std::uint32_t>(hr)) {
    case static_cast<std::uint32_t>(E_OUTOFMEMORY): return "out of memory";
    case static_cast<std::uint32_t>(E_ACCESSDENIED): return "access denied";
    case static_cast<std::uint32_t>(E_NOTIMPL): return "not supported";
    case static_cast<std::uint32_t>(E_ABORT): return "canceled";
    case static_cast<std::uint32_t>(E_INVALIDARG): return "invalid argument";
    case static_cast<std::uint32_t>(kArchiveBusy): return "archive busy: another operation is working on it";
    case static_cast<std::uint32_t>(kFileLockUnavailable):
        return fmt::format(
            "cannot lock the archive: another user owns every folder for lock files (zorvik-mutex-{} in /dev/shm "
            "and /tmp); remove them, or set XDG_RUNTIME_DIR to a private folder of yours",
            ::getuid());
    case static_cast<std::uint32_t>(kDiskFull): return "disk full";
    case static_cast<std::uint32_t>(kQuotaExceeded): return "disk quota exceeded";
    case static_cast<std::uint32_t>(kFileTooLarge): return "file too large (past the file size limit, ulimit -f, or the file system's)";
    case static_cast<std::uint32_t>(HRESULT_FROM_WIN32(38)): return "the data ended before its size (a file changed while it was read?)";
    case static_cast<std::uint32_t>(kTooManyEntries):
        return fmt::format("the archive holds more than {} entries and folders, the most Zorvik accepts", kMostTreeNodes);
    case static_cast<std::uint32_t>(kPathTooLong):
        return fmt::format("an entry's path is longer than {} characters, the most Zorvik accepts", kLongestEntryPath);
    case static_cast<std::uint32_t>(HRESULT_FROM_WIN32(2)): return "no such file";
    case static_cast<std::uint32_t>(HRESULT_FROM_WIN32(3)): return "no such folder";
    case static_cast<std::uint32_t>(HRESULT_FROM_WIN32(126)): return "a module is missing";
    default: return fmt::format("error 0x{:08X}", static_cast<std::uint32_t>(hr));
    }
}

std::string DescribeErrno(int error) {
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not be in buffer.
    return strerror_r(error, buffer, sizeof buffer);
}

}  // namespace Zorvik::Cli
