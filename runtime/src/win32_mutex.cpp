// Named mutexes that exclude threads of this process through a mutex and condition variable,
// and other processes through an open-file-description lock on a per-name lock file.
//
// A lock file holds three one-byte lock ranges and one data byte:
//   owner byte    write-locked by the process one of whose threads owns the mutex;
//   presence byte read-locked by every process that has the name open;
//   guard byte    write-locked briefly while a process opens or closes the name;
//   data byte 0   1 while the mutex is owned, so a new owner that finds it set knows the
//                 previous owner ended holding it (abandonment).
// The kernel drops a dead process's locks, which releases its ownership and presence. The last
// process to close a name deletes the file under the guard, and the first use of the folder in
// a process deletes files no process has open; openers check, under the guard, that the file
// they opened is still the one in the folder.
//
// A forked child shares its parent's open file descriptions, so unlocking in the child would
// unlock the parent: handles from before a fork are invalid in the child and leave the lock
// file alone.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "win32_handles.h"

namespace {

using namespace zorvik::rt::win32;
using clock_type = std::chrono::steady_clock;

// When a wait gives up; INFINITE waits have none.
struct deadline_type {
    bool forever;
    clock_type::time_point when;
};

constexpr off_t kOwnerByte = 0;
constexpr off_t kPresenceByte = 1;
constexpr off_t kGuardByte = 2;

// Places or removes a lock on one byte; false with errno set when it cannot.
bool set_lock(int fd, short type, off_t byte, bool wait) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return true;
        if (errno != EINTR) return false;
    }
}

// Whether another open file description holds a lock on the byte.
bool locked_elsewhere(int fd, off_t byte) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    return ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

void write_owned_flag(int fd, bool owned) {
    const char flag = owned ? 1 : 0;
    [[maybe_unused]] const auto written = ::pwrite(fd, &flag, 1, 0);
}

bool read_owned_flag(int fd) {
    char flag = 0;
    return ::pread(fd, &flag, 1, 0) == 1 && flag != 0;
}

// Whether the descriptor is still the file the folder holds under that name.
bool still_in_folder(int folder, const char* file_name, int fd) {
    struct stat listed {
    }, opened{};
    return ::fstatat(folder, file_name, &listed, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(fd, &opened) == 0 && listed.st_ino == opened.st_ino &&
           listed.st_dev == opened.st_dev;
}

// Deletes the lock files of names no process has open any more, left by processes that ended
// without closing them. Never waits: a file being opened or closed right now is skipped.
void remove_stale_lock_files(int folder) {
    const int listing_fd = ::dup(folder);
    DIR* listing = listing_fd < 0 ? nullptr : ::fdopendir(listing_fd);
    if (!listing) {
        if (listing_fd >= 0) ::close(listing_fd);
        return;
    }
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (name.size() < 5 || name.substr(name.size() - 5) != ".lock") continue;
        const int fd = ::openat(folder, entry->d_name, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        if (set_lock(fd, F_WRLCK, kGuardByte, false) && still_in_folder(folder, entry->d_name, fd) && !locked_elsewhere(fd, kPresenceByte))
            ::unlinkat(folder, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(listing);
}

// Whether fd is a real folder of the user's that nobody else can enter.
bool is_private_folder(int fd) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::getuid() && (status.st_mode & 077) == 0;
}

// The folder name below base, created mode 0700, if it is a private folder; else -1.
int open_private_folder(const std::string& base, const std::string& name) {
    const std::string path = base + "/" + name;
    ::mkdir(path.c_str(), 0700);
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    if (is_private_folder(fd)) return fd;
    ::close(fd);
    return -1;
}

// The folder of every process of the user. First the user's runtime folder ($XDG_RUNTIME_DIR,
// else /run/user/<uid>), which the system makes for the user alone, so that no other user can
// take the place first. Without one, a folder named after the user in a shared folder
// (/dev/shm, then $TMPDIR, then /tmp): another user may have made it first, so it is used only
// if it is the user's and private, else the next one is tried. -1 with ERROR_INVALID_OWNER when
// none is safe.
int open_lock_folder() {
    std::vector<std::string> runtime;
    if (const char* folder = std::getenv("XDG_RUNTIME_DIR"); folder && *folder == '/') runtime.emplace_back(folder);
    runtime.push_back("/run/user/" + std::to_string(::getuid()));
    for (const auto& base : runtime) {
        const int folder = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0) continue;
        const bool usable = is_private_folder(folder);
        ::close(folder);
        if (!usable) continue;
        if (const int fd = open_private_folder(base, "zorvik-mutex"); fd >= 0) {
            remove_stale_lock_files(fd);
            return fd;
        }
    }
    std::vector<std::string> shared{"/dev/shm"};
    if (const char* tmpdir = std::getenv("TMPDIR"); tmpdir && *tmpdir) shared.emplace_back(tmpdir);
    shared.emplace_back("/tmp");
    for (const auto& base : shared) {
        if (const int fd = open_private_folder(base, "zorvik-mutex-" + std::to_string(::getuid())); fd >= 0) {
            remove_stale_lock_files(fd);
            return fd;
        }
    }
    return -1;
}

int lock_folder() {
    static const int fd = open_lock_folder();
    return fd;
}

// Names may be long and hold any character, so files are named by a digest of the name's
// code units: no name can reach outside the folder.
std::string lock_file_name(std::wstring_view name) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(name.size() * 4);
    for (wchar_t unit : name)
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(unit) >> shift));
    static constexpr char kHex[] = "0123456789abcdef";
    std::string file_name;
    for (std::uint8_t byte : zorvik::rt::detail::sha1(std::move(bytes))) {
        file_name.push_back(kHex[byte >> 4]);
        file_name.push_back(kHex[byte & 0xF]);
    }
    return file_name + ".lock";
}

// One mutex as this process sees it, shared by all of the process's handles to it.
class mutex_state : public std::enable_shared_from_this<mutex_state> {
public:
    // fd: the open lock file with this process's presence lock, or -1 for an unnamed mutex.
    mutex_state(std::string file_name, int fd) : file_name_(std::move(file_name)), fd_(fd), process_(::getpid()) {}
    ~mutex_state();
    mutex_state(const mutex_state&) = delete;
    mutex_state& operator=(const mutex_state&) = delete;

    DWORD wait(DWORD milliseconds);
    BOOL release();
    // The calling thread takes a mutex nobody else can know yet.
    void own_new();
    // Called when the owning thread ends without releasing.
    void abandon();

    // Whether this is a copy a forked child inherited.
    bool inherited() const { return process_ != ::getpid(); }

    mutex_state* next_owned = nullptr;  // the owning thread's list of owned mutexes

private:
    enum class take_result { owned, abandoned, timed_out, failed };
    take_result take_process_lock(deadline_type deadline);
    // Marks the calling thread as owner; mutex_ is held.
    void become_owner();

    const std::string file_name_;
    const int fd_;
    const pid_t process_;
    std::mutex mutex_;
    std::condition_variable released_;
    pid_t owner_ = 0;  // includes a thread still taking the process lock
    std::uint32_t recursion_ = 0;
    bool abandoned_ = false;                         // unnamed mutexes only
    std::shared_ptr<mutex_state> self_while_owned_;  // ownership outlives closing every handle
};

// The mutexes the current thread owns; those still owned when it ends are abandoned.
class owned_mutexes {
public:
    owned_mutexes() = default;
    owned_mutexes(const owned_mutexes&) = delete;
    owned_mutexes& operator=(const owned_mutexes&) = delete;
    ~owned_mutexes() {
        while (head_) head_->abandon();
    }

    void add(mutex_state* state) {
        state->next_owned = head_;
        head_ = state;
    }
    void remove(mutex_state* state) {
        for (mutex_state** link = &head_; *link; link = &(*link)->next_owned) {
            if (*link == state) {
                *link = state->next_owned;
                state->next_owned = nullptr;
                return;
            }
        }
    }

private:
    mutex_state* head_ = nullptr;
};

thread_local owned_mutexes t_owned;

// The names this process has open. Never destroyed, as handles may outlive static objects.
// Entries of closed names are swept out as the table grows; no state is destroyed under its
// lock.
struct mutex_registry {
    std::mutex mutex;
    std::unordered_map<std::wstring, std::weak_ptr<mutex_state>> states;
    std::size_t sweep_at = 64;

    void add(const std::wstring& name, const std::shared_ptr<mutex_state>& state) {
        if (states.size() >= sweep_at) {
            std::erase_if(states, [](const auto& entry) { return entry.second.expired(); });
            sweep_at = std::max<std::size_t>(64, 2 * states.size());
        }
        states[name] = state;
    }
};

mutex_registry& registry() {
    static auto* instance = new mutex_registry;
    return *instance;
}

mutex_state::~mutex_state() {
    if (fd_ < 0) return;
    if (!inherited() && set_lock(fd_, F_WRLCK, kGuardByte, true)) {
        set_lock(fd_, F_UNLCK, kPresenceByte, false);
        if (!locked_elsewhere(fd_, kPresenceByte)) ::unlinkat(lock_folder(), file_name_.c_str(), 0);
    }
    ::close(fd_);
}

void mutex_state::become_owner() {
    owner_ = ::gettid();
    recursion_ = 1;
    self_while_owned_ = shared_from_this();
    t_owned.add(this);
}

void mutex_state::own_new() {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) {
        set_lock(fd_, F_WRLCK, kOwnerByte, false);  // free: nobody else has the name open
        write_owned_flag(fd_, true);
    }
    become_owner();
}

mutex_state::take_result mutex_state::take_process_lock(deadline_type deadline) {
    if (deadline.forever) {
        if (!set_lock(fd_, F_WRLCK, kOwnerByte, true)) return take_result::failed;
    } else {
        // The kernel has no timed lock wait: poll, backing off to a short interval.
        using namespace std::chrono_literals;
        clock_type::duration pause = 1ms;
        while (!set_lock(fd_, F_WRLCK, kOwnerByte, false)) {
            if (errno != EAGAIN && errno != EACCES) return take_result::failed;
            const auto now = clock_type::now();
            if (now >= deadline.when) return take_result::timed_out;
            std::this_thread::sleep_for(std::min(pause, deadline.when - now));
            pause = std::min<clock_type::duration>(pause * 2, 16ms);
        }
    }
    const bool abandoned = read_owned_flag(fd_);
    write_owned_flag(fd_, true);
    return abandoned ? take_result::abandoned : take_result::owned;
}

DWORD mutex_state::wait(DWORD milliseconds) {
    const deadline_type deadline{milliseconds == INFINITE, clock_type::now() + std::chrono::milliseconds(milliseconds)};
    if (inherited()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    std::unique_lock lock(mutex_);
    if (owner_ == ::gettid()) {
        ++recursion_;
        return WAIT_OBJECT_0;
    }
    const auto free = [this] { return owner_ == 0; };
    if (deadline.forever) {
        released_.wait(lock, free);
    } else if (!released_.wait_until(lock, deadline.when, free)) {
        return WAIT_TIMEOUT;
    }
    bool abandoned = false;
    if (fd_ < 0) {
        abandoned = std::exchange(abandoned_, false);
    } else {
        // Claim this process's turn, so other threads wait here, not on the shared lock.
        owner_ = ::gettid();
        lock.unlock();
        const take_result taken = take_process_lock(deadline);
        const int error = errno;
        lock.lock();
        if (taken == take_result::timed_out || taken == take_result::failed) {
            owner_ = 0;
            lock.unlock();
            released_.notify_one();
            if (taken == take_result::timed_out) return WAIT_TIMEOUT;
            SetLastError(zorvik::rt::win32_error_from_errno(error));
            return WAIT_FAILED;
        }
        abandoned = taken == take_result::abandoned;
    }
    become_owner();
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

BOOL mutex_state::release() {
    if (inherited()) return fail_with(ERROR_INVALID_HANDLE);
    std::shared_ptr<mutex_state> keep_alive;
    {
        std::lock_guard lock(mutex_);
        if (owner_ != ::gettid()) return fail_with(ERROR_NOT_OWNER);
        if (--recursion_ > 0) return TRUE;
        if (fd_ >= 0) {
            write_owned_flag(fd_, false);
            set_lock(fd_, F_UNLCK, kOwnerByte, false);
        }
        owner_ = 0;
        t_owned.remove(this);
        keep_alive = std::move(self_while_owned_);
    }
    released_.notify_one();
    return TRUE;
}

void mutex_state::abandon() {
    std::shared_ptr<mutex_state> keep_alive;
    {
        std::lock_guard lock(mutex_);
        // The owned flag stays set: the next owner, in any process, learns of the abandonment.
        if (fd_ < 0)
            abandoned_ = true;
        else if (!inherited())
            set_lock(fd_, F_UNLCK, kOwnerByte, false);
        owner_ = 0;
        recursion_ = 0;
        t_owned.remove(this);
        keep_alive = std::move(self_while_owned_);
    }
    released_.notify_one();
}

// Opens (and, with `create`, creates) the named mutex for this process. nullptr with the last
// error set on failure.
std::shared_ptr<mutex_state> open_named(const std::wstring& name, bool create, bool initial_owner, bool& existed) {
    auto& names = registry();
    std::shared_ptr<mutex_state> open_here;  // released after the lock
    std::lock_guard lock(names.mutex);
    if (const auto found = names.states.find(name); found != names.states.end()) {
        open_here = found->second.lock();
        if (open_here && !open_here->inherited()) {
            existed = true;
            return open_here;
        }
    }
    const int folder = lock_folder();
    if (folder < 0) {
        fail_with(ERROR_INVALID_OWNER);
        return nullptr;
    }
    std::string file_name = lock_file_name(name);
    for (;;) {
        const int fd = ::openat(folder, file_name.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
        if (fd < 0) {
            fail_with(errno == ENOENT ? ERROR_FILE_NOT_FOUND : zorvik::rt::win32_error_from_errno(errno));
            return nullptr;
        }
        if (!set_lock(fd, F_WRLCK, kGuardByte, true)) {
            fail_with_errno();
            ::close(fd);
            return nullptr;
        }
        if (!still_in_folder(folder, file_name.c_str(), fd)) {  // deleted by its last user meanwhile
            ::close(fd);
            continue;
        }
        existed = locked_elsewhere(fd, kPresenceByte);
        if (!existed && !create) {  // left behind by a process that died
            ::unlinkat(folder, file_name.c_str(), 0);
            ::close(fd);
            fail_with(ERROR_FILE_NOT_FOUND);
            return nullptr;
        }
        if (!existed && ::ftruncate(fd, 0) != 0) {  // a new mutex is not abandoned
            fail_with_errno();
            ::close(fd);
            return nullptr;
        }
        if (!set_lock(fd, F_RDLCK, kPresenceByte, false)) {
            fail_with_errno();
            ::close(fd);
            return nullptr;
        }
        std::shared_ptr<mutex_state> state;
        try {
            state = std::make_shared<mutex_state>(std::move(file_name), fd);
            names.add(name, state);
        } catch (...) {
            if (!state) ::close(fd);
            throw;
        }
        // Still under the guard, so nobody can take it first.
        if (initial_owner && !existed) state->own_new();
        set_lock(fd, F_UNLCK, kGuardByte, false);
        return state;
    }
}

class mutex_object final : public kernel_object {
public:
    explicit mutex_object(std::shared_ptr<mutex_state> state) : state(std::move(state)) {}
    const std::shared_ptr<mutex_state> state;
};

}  // namespace

HANDLE CreateMutexExW(LPSECURITY_ATTRIBUTES /*attributes*/, LPCWSTR name, DWORD flags, DWORD /*desiredAccess*/) {
    if (flags & ~CREATE_MUTEX_INITIAL_OWNER) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const bool initial_owner = flags & CREATE_MUTEX_INITIAL_OWNER;
    try {
        std::shared_ptr<mutex_state> state;
        bool existed = false;
        if (name && *name) {
            state = open_named(name, true, initial_owner, existed);
            if (!state) return nullptr;
        } else {
            state = std::make_shared<mutex_state>(std::string{}, -1);
            if (initial_owner) state->own_new();
        }
        HANDLE handle = insert_handle(std::make_shared<mutex_object>(std::move(state)));
        SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
        return handle;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

HANDLE OpenMutexW(DWORD /*desiredAccess*/, BOOL /*inheritHandle*/, LPCWSTR name) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    try {
        bool existed = false;
        auto state = open_named(name, false, false, existed);
        if (!state) return nullptr;
        return insert_handle(std::make_shared<mutex_object>(std::move(state)));
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

DWORD WaitForSingleObjectEx(HANDLE handle, DWORD milliseconds, BOOL /*alertable*/) {
    const auto mutex = find_handle<mutex_object>(handle);
    if (!mutex) return WAIT_FAILED;
    try {
        return mutex->state->wait(milliseconds);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return WAIT_FAILED;
    }
}

BOOL ReleaseMutex(HANDLE handle) {
    const auto mutex = find_handle<mutex_object>(handle);
    if (!mutex) return FALSE;
    return mutex->state->release();
}
