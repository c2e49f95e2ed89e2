#include "storage_folder.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "posix_error.h"
#include "storage_file.h"
#include "zorvik/runtime/async.h"

namespace zorvik::rt {

using ABI::Windows::Storage::CreationCollisionOption;
using ABI::Windows::Storage::IStorageFile;

namespace {

constexpr unsigned kMaxUniqueNames = 10000;
constexpr std::uint32_t ERROR_ALREADY_EXISTS = 183;

// A plain name can only ever reach a file directly inside the folder.
bool is_plain_name(std::wstring_view name) {
    return !name.empty() && name != L"." && name != L".." && name.find_first_of(std::wstring_view(L"/\\\0", 3)) == std::wstring_view::npos;
}

// "7zt.tmp", then "7zt (2).tmp", "7zt (3).tmp", ...
std::wstring numbered_name(std::wstring_view name, unsigned number) {
    if (number == 1) return std::wstring(name);
    const std::size_t dot = name.rfind(L'.');
    const std::size_t stem = dot == std::wstring_view::npos || dot == 0 ? name.size() : dot;
    return std::wstring(name.substr(0, stem)) + L" (" + std::to_wstring(number) + L")" + std::wstring(name.substr(stem));
}

// Creates or opens name in directory; false if O_EXCL found it there.
bool create_in(int directory, std::wstring_view name, int flags) {
    // Read access suffices to create and, unlike write access, opens an existing read-only
    // file; only truncating needs to write.
    const int access = (flags & O_TRUNC) ? O_WRONLY : O_RDONLY;
    unique_fd file(::openat(directory, to_utf8(name).c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | flags, 0600));
    if (!file && errno == EEXIST && (flags & O_EXCL)) return false;
    if (!file) throw_last_errno();
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) throw_last_errno();
    if (!S_ISREG(info.st_mode)) throw hresult_error(E_ACCESSDENIED, "not a regular file");
    return true;
}

// The name of the file created or opened. O_CREAT|O_EXCL makes claiming a name atomic,
// between threads and processes alike.
std::wstring create_named_file(int directory, std::wstring_view name, CreationCollisionOption option) {
    switch (option) {
    case CreationCollisionOption::GenerateUniqueName:
        for (unsigned number = 1; number <= kMaxUniqueNames; ++number) {
            std::wstring candidate = numbered_name(name, number);
            if (create_in(directory, candidate, O_CREAT | O_EXCL)) return candidate;
        }
        throw hresult_error(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
    case CreationCollisionOption::ReplaceExisting: create_in(directory, name, O_CREAT | O_TRUNC); return std::wstring(name);
    case CreationCollisionOption::FailIfExists:
        if (!create_in(directory, name, O_CREAT | O_EXCL)) throw hresult_error(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
        return std::wstring(name);
    case CreationCollisionOption::OpenIfExists: create_in(directory, name, O_CREAT); return std::wstring(name);
    }
    throw invalid_argument_error("unknown collision option");
}

}  // namespace

storage_folder::storage_folder(unique_fd directory, std::wstring path)
    : directory_(std::make_shared<const unique_fd>(std::move(directory))), path_(std::move(path)) {}

HRESULT storage_folder::CreateFileAsync(HSTRING desiredName, CreationCollisionOption options,
                                        ABI::Windows::Foundation::IAsyncOperation<IStorageFile*>** operation) {
    if (operation) *operation = nullptr;
    return boundary([&] {
        check_pointer(operation);
        std::uint32_t length = 0;
        const wchar_t* text = WindowsGetStringRawBuffer(desiredName, &length);
        std::wstring name(text, length);
        if (!is_plain_name(name)) throw invalid_argument_error("not a plain file name");
        if (static_cast<std::uint32_t>(options) > static_cast<std::uint32_t>(CreationCollisionOption::OpenIfExists))
            throw invalid_argument_error("unknown collision option");
        *operation = run_async<IStorageFile*>([directory = directory_, path = path_, name = std::move(name), options] {
                         std::wstring created = create_named_file(directory->get(), name, options);
                         return make<storage_file>(directory, path, std::move(created)).as<IStorageFile>();
                     }).detach();
    });
}

HRESULT storage_folder::get_Name(HSTRING* name) {
    if (name) *name = nullptr;
    return boundary([&] {
        check_pointer(name);
        *name = hstring(std::wstring_view(path_).substr(path_.rfind(L'/') + 1)).detach();
    });
}

HRESULT storage_folder::get_Path(HSTRING* path) {
    if (path) *path = nullptr;
    return boundary([&] {
        check_pointer(path);
        *path = hstring(path_).detach();
    });
}

}  // namespace zorvik::rt
