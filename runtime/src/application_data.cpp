// ApplicationData: the application's private temporary folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "posix_error.h"
#include "storage_folder.h"
#include "zorvik/runtime/storage.h"

namespace zorvik::rt {

namespace {

std::string without_trailing_slashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// $ZORVIK_TEMP, else zorvik-<uid> under $TMPDIR or /tmp.
std::string temporary_folder_path() {
    if (const char* chosen = std::getenv("ZORVIK_TEMP"); chosen && *chosen)
        return without_trailing_slashes(std::filesystem::absolute(chosen).string());
    const char* tmpdir = std::getenv("TMPDIR");
    const std::string base = tmpdir && tmpdir[0] == '/' ? without_trailing_slashes(tmpdir) : "/tmp";
    return (base == "/" ? "" : base) + "/zorvik-" + std::to_string(::geteuid());
}

// Creates the folder private to us, or opens it if it is: a real folder of ours that nobody
// else may enter. Checking the open folder, not the path, leaves no window for a swap.
unique_fd open_private_folder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) throw_last_errno();
    unique_fd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder && (errno == ELOOP || errno == ENOTDIR)) throw hresult_error(E_ACCESSDENIED, "temporary folder is not a folder");
    if (!folder) throw_last_errno();
    struct stat info {};
    if (::fstat(folder.get(), &info) != 0) throw_last_errno();
    if (info.st_uid != ::geteuid() || (info.st_mode & 077) != 0) throw hresult_error(E_ACCESSDENIED, "temporary folder is not private");
    return folder;
}

class application_data final : public implements<application_data, ABI::Windows::Storage::IApplicationData> {
public:
    static constexpr const char* runtime_class_name = "Windows.Storage.ApplicationData";

    // Resolved on every call, so that a changed $ZORVIK_TEMP takes effect.
    HRESULT get_TemporaryFolder(ABI::Windows::Storage::IStorageFolder** folder) override {
        if (folder) *folder = nullptr;
        return boundary([&] {
            check_pointer(folder);
            const std::string path = temporary_folder_path();
            *folder = detach_as<ABI::Windows::Storage::IStorageFolder>(make<storage_folder>(open_private_folder(path), to_wide(path)));
        });
    }
};

}  // namespace

}  // namespace zorvik::rt

HRESULT GetApplicationData(ABI::Windows::Storage::IApplicationData** data) {
    if (!data) return E_POINTER;
    *data = nullptr;
    return zorvik::rt::boundary(
        [&] { *data = zorvik::rt::detach_as<ABI::Windows::Storage::IApplicationData>(zorvik::rt::make<zorvik::rt::application_data>()); });
}
