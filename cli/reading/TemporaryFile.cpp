#include "cli/reading/TemporaryFile.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

#include "cli/terminal/ExitCode.h"
#include "cli/terminal/Interrupt.h"
#include "zorvik/runtime/storage.h"

namespace Zorvik::Cli {

namespace {

[[noreturn]] void Raise(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

void WriteAll(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) Raise("cannot write a temporary file");
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
}

}  // namespace

zorvik::rt::unique_fd NewTemporaryFile() {
    const std::string folder = zorvik::rt::to_utf8(zorvik::rt::item_path(zorvik::rt::temporary_folder()).view());
    zorvik::rt::unique_fd file(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (file || (errno != EOPNOTSUPP && errno != EISDIR)) {
        if (!file) Raise("cannot create a temporary file");
        return file;
    }
    // A file system without unnamed files: a named one, unlinked at once.
    std::string pattern = folder + "/zorvik-XXXXXX";
    file.reset(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!file) Raise("cannot create a temporary file");
    ::unlink(pattern.c_str());
    return file;
}

zorvik::rt::unique_fd CopyToTemporaryFile(int input, const std::string& name) {
    zorvik::rt::unique_fd copy = NewTemporaryFile();
    std::vector<char> buffer(1 << 20);
    for (;;) {
        // Short waits, so that Ctrl-C is seen whichever thread the signal went to.
        pollfd ready{input, POLLIN, 0};
        const int polled = ::poll(&ready, 1, 100);
        if (Interrupt::Requested()) throw CommandError(ExitCode::Interrupted, name, "interrupted");
        if (polled < 0 && errno != EINTR) Raise("cannot read the input");
        if (polled <= 0) continue;
        const ssize_t read = ::read(input, buffer.data(), buffer.size());
        if (read == 0) break;
        if (read < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            Raise("cannot read the input");
        }
        WriteAll(copy.get(), buffer.data(), static_cast<std::size_t>(read));
    }
    if (::lseek(copy.get(), 0, SEEK_SET) != 0) Raise("cannot read a temporary file");
    return copy;
}

}  // namespace Zorvik::Cli
