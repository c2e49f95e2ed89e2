#include "file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <limits>

#include "posix_error.h"
#include "random_access_stream.h"

namespace zorvik::rt {

using ABI::Windows::Storage::FileAccessMode;
using ABI::Windows::Storage::FileCreationDisposition;
using ABI::Windows::Storage::Streams::IRandomAccessStream;

namespace {
constexpr std::uint64_t kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
}

file_store::file_store(unique_fd file, bool writable) noexcept : file_(std::move(file)), writable_(writable) {}

std::uint32_t file_store::read_at(std::uint64_t position, std::uint8_t* bytes, std::uint32_t count) {
    std::uint32_t done = 0;
    while (done < count && position + done < kMaxOffset) {
        const ssize_t n = ::pread(file_.get(), bytes + done, count - done, static_cast<off_t>(position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw_last_errno();
        if (n == 0) break;
        done += static_cast<std::uint32_t>(n);
    }
    return done;
}

void file_store::write_at(std::uint64_t position, const std::uint8_t* bytes, std::uint32_t count) {
    if (position > kMaxOffset || count > kMaxOffset - position) throw_hresult(hresult_from_errno(EFBIG));
    std::uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(file_.get(), bytes + done, count - done, static_cast<off_t>(position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw_last_errno();
        done += static_cast<std::uint32_t>(n);
    }
}

std::uint64_t file_store::size() {
    struct stat info {};
    if (::fstat(file_.get(), &info) != 0) throw_last_errno();
    return static_cast<std::uint64_t>(info.st_size);
}

void file_store::set_size(std::uint64_t size) {
    if (size > kMaxOffset) throw_hresult(hresult_from_errno(EFBIG));
    while (::ftruncate(file_.get(), static_cast<off_t>(size)) != 0)
        if (errno != EINTR) throw_last_errno();
}

void file_store::flush() {
    if (::fsync(file_.get()) != 0 && errno != EINVAL) throw_last_errno();
}

com_ptr<IRandomAccessStream> open_file_stream_at(int directory, const std::string& path, FileAccessMode mode, int flags,
                                                 unsigned create_mode) {
    if (mode != FileAccessMode::Read && mode != FileAccessMode::ReadWrite) throw invalid_argument_error("unknown file access mode");
    const bool writable = mode == FileAccessMode::ReadWrite;
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused just below.
    unique_fd file(::openat(directory, path.c_str(), (writable ? O_RDWR : O_RDONLY) | flags | O_CLOEXEC | O_NONBLOCK, create_mode));
    if (!file) throw_last_errno();
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) throw_last_errno();
    if (!S_ISREG(info.st_mode)) throw hresult_error(E_ACCESSDENIED, "not a regular file");
    if (::fcntl(file.get(), F_SETFL, 0) != 0) throw_last_errno();
    return make<random_access_stream>(std::make_shared<file_store>(std::move(file), writable), 0);
}

com_ptr<IRandomAccessStream> file_stream_on_descriptor(int fd, FileAccessMode mode) {
    if (mode != FileAccessMode::Read && mode != FileAccessMode::ReadWrite) throw invalid_argument_error("unknown file access mode");
    const bool writable = mode == FileAccessMode::ReadWrite;
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0) throw_last_errno();
    const int access = status & O_ACCMODE;
    if (writable ? access == O_RDONLY : access == O_WRONLY) throw hresult_error(E_ACCESSDENIED, "descriptor opened for other access");
    struct stat info {};
    if (::fstat(fd, &info) != 0) throw_last_errno();
    if (!S_ISREG(info.st_mode)) throw hresult_error(E_ACCESSDENIED, "not a regular file");
    unique_fd copy(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (!copy) throw_last_errno();
    return make<random_access_stream>(std::make_shared<file_store>(std::move(copy), writable), 0);
}

}  // namespace zorvik::rt

using ABI::Windows::Storage::FileAccessMode;
using ABI::Windows::Storage::FileCreationDisposition;

namespace {

int creation_flags(FileCreationDisposition disposition) {
    switch (disposition) {
    case FileCreationDisposition::CreateNew: return O_CREAT | O_EXCL;
    case FileCreationDisposition::CreateAlways: return O_CREAT | O_TRUNC;
    case FileCreationDisposition::OpenExisting: return 0;
    case FileCreationDisposition::OpenAlways: return O_CREAT;
    case FileCreationDisposition::TruncateExisting: return O_TRUNC;
    }
    throw zorvik::rt::invalid_argument_error("unknown creation disposition");
}

}  // namespace

HRESULT CreateRandomAccessStreamOnFileEx(const wchar_t* path, FileAccessMode mode, FileCreationDisposition disposition, REFIID iid,
                                         void** stream) {
    if (!stream) return E_POINTER;
    *stream = nullptr;
    return zorvik::rt::boundary([&] {
        zorvik::rt::check_pointer(path);
        if (disposition != FileCreationDisposition::OpenExisting && mode != FileAccessMode::ReadWrite)
            throw zorvik::rt::invalid_argument_error("creating or truncating needs ReadWrite access");
        auto opened = zorvik::rt::open_file_stream_at(AT_FDCWD, zorvik::rt::to_utf8(path), mode, creation_flags(disposition), 0666);
        zorvik::rt::check_hresult(opened->QueryInterface(iid, stream));
    });
}

HRESULT CreateRandomAccessStreamOnFileDescriptor(int fd, FileAccessMode mode, REFIID iid, void** stream) {
    if (!stream) return E_POINTER;
    *stream = nullptr;
    return zorvik::rt::boundary([&] {
        auto opened = zorvik::rt::file_stream_on_descriptor(fd, mode);
        zorvik::rt::check_hresult(opened->QueryInterface(iid, stream));
    });
}

HRESULT CreateRandomAccessStreamOnFile(const wchar_t* path, FileAccessMode mode, REFIID iid, void** stream) {
    return CreateRandomAccessStreamOnFileEx(path, mode, FileCreationDisposition::OpenExisting, iid, stream);
}
