#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "files/src/Common.h"
#include "zorvik/files/Files.h"

namespace zorvik::files {

namespace {

// A regular file at name in folder, opened without blocking on a FIFO; the errno otherwise.
int OpenRegular(int folder, const char* name, int& error) {
    detail::fd file(::openat(folder, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0) {
        error = errno;
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return -1;
    }
    return file.release();
}

}  // namespace

detail::fd::~fd() {
    if (value_ >= 0) ::close(value_);
}

Archive open(const std::string& path, OpenHooks hooks) {
    const std::filesystem::path given(path);
    const std::string folder_path = given.has_parent_path() ? given.parent_path().string() : ".";
    const std::string file_name = given.filename().string();
    auto folder = std::make_shared<detail::fd>(::open(folder_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!*folder) detail::raise_errno(errno, "its folder", "files::open", path);
    int error = 0;
    const detail::fd file(OpenRegular(folder->get(), file_name.c_str(), error));
    if (!file) {
        if (error == EINVAL) throw Error(ErrorCode::InvalidArgument, E_INVALIDARG, "not a regular file", {"files::open", path, {}});
        if (error == EISDIR)
            throw Error(ErrorCode::IsAFolder, zorvik::detail::kDirectory, "is a folder, not an archive", {"files::open", path, {}});
        detail::raise_errno(error, {}, "files::open", path);
    }
    Stream stream;
    try {
        stream = Stream(zorvik::rt::open_file_stream_on(file.get(), ABI::Windows::Storage::FileAccessMode::Read));
    } catch (...) {
        zorvik::detail::rethrow_as_error({"files::open", path, {}});
    }
    char real[PATH_MAX];
    const std::string lock = ::realpath(path.c_str(), real) ? std::string(real) : path;

    // Volumes by file name only, in the archive's folder; the hook owns the folder it needs,
    // since the component may ask after this call.
    if (!hooks.volume) {
        hooks.volume = [folder](const std::string& volume_name) -> std::optional<Stream> {
            const std::string name = std::filesystem::path(volume_name).filename().string();
            if (name.empty() || name == "." || name == "..") return std::nullopt;
            int ignored = 0;
            const detail::fd volume(OpenRegular(folder->get(), name.c_str(), ignored));
            if (!volume) return std::nullopt;
            return Stream(zorvik::rt::open_file_stream_on(volume.get(), ABI::Windows::Storage::FileAccessMode::Read));
        };
    }
    return Archive::open(stream, {.name = file_name, .path = lock, .label = path}, std::move(hooks));
}

}  // namespace zorvik::files
