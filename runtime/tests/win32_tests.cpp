#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "zorvik/runtime/com_ptr.h"
#include "zorvik/runtime/win32.h"

using namespace zorvik::rt;
namespace fs = std::filesystem;

namespace {

// ---- Files -------------------------------------------------------------------------------

class Win32Files : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zorvik-win32-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::wstring path(std::wstring_view name) const { return to_wide(folder_.string()) + L"/" + std::wstring(name); }

    unique_handle open(std::wstring_view name, DWORD access, DWORD disposition) const {
        return unique_handle(CreateFile2(path(name).c_str(), access, FILE_SHARE_READ, disposition, nullptr));
    }

    static std::string read_all(HANDLE file) {
        LARGE_INTEGER start{0};
        EXPECT_TRUE(SetFilePointerEx(file, start, nullptr, FILE_BEGIN));
        std::string text(4096, '\0');
        DWORD read = 0;
        EXPECT_TRUE(ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr));
        text.resize(read);
        return text;
    }

    static void write(HANDLE file, std::string_view text) {
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
        ASSERT_EQ(written, text.size());
    }

    fs::path folder_;
};

TEST_F(Win32Files, WriteSeekReadAndSizeRoundTrip) {
    CREATEFILE2_EXTENDED_PARAMETERS parameters{sizeof(parameters), FILE_ATTRIBUTE_NORMAL, FILE_FLAG_SEQUENTIAL_SCAN, 0, nullptr, nullptr};
    unique_handle file(CreateFile2(path(L"data.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW, &parameters));
    ASSERT_TRUE(file) << GetLastError();
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);

    std::vector<unsigned char> data(300000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7 + i / 251);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr));
    EXPECT_EQ(written, data.size());

    LARGE_INTEGER size{};
    ASSERT_TRUE(GetFileSizeEx(file.get(), &size));
    EXPECT_EQ(size.QuadPart, 300000);

    LARGE_INTEGER position{};
    ASSERT_TRUE(SetFilePointerEx(file.get(), LARGE_INTEGER{-1000}, &position, FILE_END));
    EXPECT_EQ(position.QuadPart, 299000);
    ASSERT_TRUE(SetFilePointerEx(file.get(), LARGE_INTEGER{-299000}, &position, FILE_CURRENT));
    EXPECT_EQ(position.QuadPart, 0);

    std::vector<unsigned char> back(data.size() + 10);
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(file.get(), back.data(), static_cast<DWORD>(back.size()), &read, nullptr));
    ASSERT_EQ(read, data.size());  // short only at the end
    back.resize(read);
    EXPECT_EQ(back, data);
    ASSERT_TRUE(ReadFile(file.get(), back.data(), 10, &read, nullptr));
    EXPECT_EQ(read, 0u);

    EXPECT_FALSE(SetFilePointerEx(file.get(), LARGE_INTEGER{-1}, nullptr, FILE_BEGIN));
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    EXPECT_FALSE(SetFilePointerEx(file.get(), LARGE_INTEGER{0}, nullptr, 3));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    ASSERT_TRUE(SetFilePointerEx(file.get(), LARGE_INTEGER{10}, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file.get()));
    ASSERT_TRUE(FlushFileBuffers(file.get()));
    ASSERT_TRUE(GetFileSizeEx(file.get(), &size));
    EXPECT_EQ(size.QuadPart, 10);
}

TEST_F(Win32Files, DispositionsBehaveAsOnTheStorePlatform) {
    write(open(L"f", GENERIC_WRITE, CREATE_NEW).get(), "first");

    EXPECT_FALSE(open(L"f", GENERIC_WRITE, CREATE_NEW));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

    {
        auto kept = open(L"f", GENERIC_READ, OPEN_ALWAYS);
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
        EXPECT_EQ(read_all(kept.get()), "first");
    }
    {
        auto replaced = open(L"f", GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
        EXPECT_EQ(read_all(replaced.get()), "");
        write(replaced.get(), "second");
    }
    EXPECT_EQ(read_all(open(L"f", GENERIC_READ | GENERIC_WRITE, TRUNCATE_EXISTING).get()), "");

    EXPECT_TRUE(open(L"new", GENERIC_WRITE, OPEN_ALWAYS));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_TRUE(open(L"new2", GENERIC_WRITE, CREATE_ALWAYS));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    fs::create_symlink(folder_ / "target", folder_ / "dangling");
    EXPECT_TRUE(open(L"dangling", GENERIC_WRITE, OPEN_ALWAYS));
    EXPECT_TRUE(fs::exists(folder_ / "target"));

    EXPECT_FALSE(open(L"missing", GENERIC_READ, OPEN_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(open(L"missing", GENERIC_WRITE, TRUNCATE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(open(L"f", GENERIC_READ, TRUNCATE_EXISTING));  // needs write access
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(open(L"no-folder/f", GENERIC_WRITE, CREATE_NEW));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(unique_handle(CreateFile2(to_wide(folder_.string()).c_str(), GENERIC_READ, 0, OPEN_EXISTING, nullptr)));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(Win32Files, HandlesAllowOnlyTheirAccess) {
    write(open(L"f", GENERIC_WRITE, CREATE_NEW).get(), "text");
    char buffer[4];
    DWORD count = 99;
    EXPECT_FALSE(ReadFile(open(L"f", GENERIC_WRITE, OPEN_EXISTING).get(), buffer, 4, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(WriteFile(open(L"f", GENERIC_READ, OPEN_EXISTING).get(), "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(Win32Files, NamesAreUtf8OnDiskAndDeleteFileRemovesThem) {
    const std::wstring name = L"\u00fcber \u20ac \U0001D11E.txt";
    ASSERT_TRUE(open(name, GENERIC_WRITE, CREATE_NEW));
    EXPECT_TRUE(fs::exists(folder_ / to_utf8(name)));

    EXPECT_TRUE(DeleteFileW(path(name).c_str()));
    EXPECT_FALSE(fs::exists(folder_ / to_utf8(name)));
    EXPECT_FALSE(DeleteFileW(path(name).c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(DeleteFileW(to_wide(folder_.string()).c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(Win32Files, BadHandlesFailCleanly) {
    HANDLE file = CreateFile2(path(L"f").c_str(), GENERIC_READ, 0, CREATE_NEW, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(WaitForSingleObjectEx(file, 0, FALSE), WAIT_FAILED);  // not a mutex
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseHandle(file));

    int not_a_handle = 0;
    for (HANDLE bad : {file, static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, static_cast<HANDLE>(&not_a_handle)}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(CloseHandle(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        char buffer[1];
        DWORD count = 0;
        EXPECT_FALSE(ReadFile(bad, buffer, 1, &count, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(WriteFile(bad, "x", 1, &count, nullptr));
        LARGE_INTEGER size{};
        EXPECT_FALSE(GetFileSizeEx(bad, &size));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }

    HANDLE mutex = CreateMutexExW(nullptr, nullptr, 0, MUTEX_ALL_ACCESS);
    ASSERT_NE(mutex, nullptr);
    char buffer[1];
    EXPECT_FALSE(ReadFile(mutex, buffer, 1, nullptr, nullptr));  // not a file
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseHandle(mutex));
}

TEST(Win32, LastErrorIsPerThread) {
    SetLastError(ERROR_ACCESS_DENIED);
    std::thread([] {
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
        SetLastError(ERROR_FILE_NOT_FOUND);
    }).join();
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(::getpid()));
}

// ---- Mutexes within a process ------------------------------------------------------------

// Unique per test and run; slashes and dots must not matter.
std::wstring mutex_name(std::string_view test) {
    static std::atomic<int> counter{0};
    return L"zorvik/../tests/" + to_wide(test) + L"-" + std::to_wstring(::getpid()) + L"-" + std::to_wstring(++counter);
}

DWORD wait_in_other_thread(HANDLE mutex, DWORD milliseconds) {
    DWORD result = WAIT_FAILED;
    std::thread([&] { result = WaitForSingleObjectEx(mutex, milliseconds, FALSE); }).join();
    return result;
}

TEST(Win32Mutex, OwnerTakesItRecursivelyAndOtherThreadsCannot) {
    unique_handle mutex(CreateMutexExW(nullptr, mutex_name("recursive").c_str(), CREATE_MUTEX_INITIAL_OWNER, MUTEX_ALL_ACCESS));
    ASSERT_TRUE(mutex) << GetLastError();
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObjectEx(mutex.get(), 0, FALSE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObjectEx(mutex.get(), INFINITE, FALSE), WAIT_OBJECT_0);

    EXPECT_EQ(wait_in_other_thread(mutex.get(), 0), WAIT_TIMEOUT);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(wait_in_other_thread(mutex.get(), 100), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(95));
    std::thread([&] {
        EXPECT_FALSE(ReleaseMutex(mutex.get()));
        EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    }).join();

    // Each wait needs its release.
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
    EXPECT_EQ(wait_in_other_thread(mutex.get(), 0), WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
    EXPECT_FALSE(ReleaseMutex(mutex.get()));
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);

    std::thread([&] {
        EXPECT_EQ(WaitForSingleObjectEx(mutex.get(), 0, FALSE), WAIT_OBJECT_0);
        EXPECT_TRUE(ReleaseMutex(mutex.get()));
    }).join();
}

TEST(Win32Mutex, HandlesToOneNameShareOneMutexAndNamesAreExact) {
    const std::wstring name = mutex_name("shared");
    unique_handle first(CreateMutexExW(nullptr, name.c_str(), CREATE_MUTEX_INITIAL_OWNER, 0));
    ASSERT_TRUE(first);
    unique_handle second(CreateMutexExW(nullptr, name.c_str(), 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    unique_handle opened(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    ASSERT_TRUE(opened);
    EXPECT_EQ(wait_in_other_thread(second.get(), 0), WAIT_TIMEOUT);
    EXPECT_EQ(wait_in_other_thread(opened.get(), 0), WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(second.get()));  // ownership is per mutex, not per handle

    std::wstring other_case = name;
    other_case[0] = L'Z';
    unique_handle distinct(CreateMutexExW(nullptr, other_case.c_str(), 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    const std::wstring long_name(5000, L'\u00e9');
    EXPECT_TRUE(unique_handle(CreateMutexExW(nullptr, long_name.c_str(), 0, 0)));
}

TEST(Win32Mutex, NameExistsOnlyWhileAHandleIsOpen) {
    const std::wstring name = mutex_name("exists");
    EXPECT_FALSE(unique_handle(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str())));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    {
        unique_handle created(CreateMutexExW(nullptr, name.c_str(), 0, 0));
        ASSERT_TRUE(created);
        EXPECT_TRUE(unique_handle(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str())));
    }
    EXPECT_FALSE(unique_handle(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str())));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(unique_handle(OpenMutexW(SYNCHRONIZE, FALSE, nullptr)));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(unique_handle(CreateMutexExW(nullptr, name.c_str(), 0x2, 0)));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Win32Mutex, ABlockedWaiterGetsItWhenReleasedOrAbandonedByItsThread) {
    const std::wstring named = mutex_name("abandoned");
    for (const wchar_t* name : {static_cast<const wchar_t*>(nullptr), named.c_str()}) {
        unique_handle mutex(CreateMutexExW(nullptr, name, 0, 0));
        ASSERT_TRUE(mutex);
        std::atomic<bool> taken{false};
        std::thread holder([&] {
            EXPECT_EQ(WaitForSingleObjectEx(mutex.get(), 0, FALSE), WAIT_OBJECT_0);
            taken = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_TRUE(ReleaseMutex(mutex.get()));
        });
        while (!taken) std::this_thread::yield();
        EXPECT_EQ(WaitForSingleObjectEx(mutex.get(), 5000, FALSE), WAIT_OBJECT_0);
        holder.join();
        EXPECT_TRUE(ReleaseMutex(mutex.get()));

        // A thread that ends holding it abandons it, once, to the next owner.
        std::thread([&] { EXPECT_EQ(WaitForSingleObjectEx(mutex.get(), 0, FALSE), WAIT_OBJECT_0); }).join();
        EXPECT_EQ(WaitForSingleObjectEx(mutex.get(), 0, FALSE), WAIT_ABANDONED);
        EXPECT_TRUE(ReleaseMutex(mutex.get()));
        EXPECT_EQ(WaitForSingleObjectEx(mutex.get(), 0, FALSE), WAIT_OBJECT_0);
        EXPECT_TRUE(ReleaseMutex(mutex.get()));
    }
}

// ---- Mutexes across processes ------------------------------------------------------------

// A forked child that runs a script of one-character commands and reports back. The child
// only uses the platform functions and pipes, and ends with _exit.
class child_process {
public:
    template <typename Body>
    explicit child_process(Body body) {
        int to_child[2], from_child[2];
        if (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(from_child, O_CLOEXEC) != 0) std::abort();
        std::fflush(nullptr);  // or the child would flush the parent's buffered output again
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(to_child[1]);
            ::close(from_child[0]);
            commands_ = to_child[0];
            reports_ = from_child[1];
            body(*this);
            ::_exit(0);
        }
        ::close(to_child[0]);
        ::close(from_child[1]);
        commands_ = to_child[1];
        reports_ = from_child[0];
    }
    ~child_process() {
        kill();
        ::close(commands_);
        ::close(reports_);
    }
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    // Either side: sends one character.
    void send(char c) const { [[maybe_unused]] auto written = ::write(pid_ == 0 ? reports_ : commands_, &c, 1); }
    // Either side: the next character, or '\0' when the other side ended or after 10 s.
    char receive() const {
        const int fd = pid_ == 0 ? commands_ : reports_;
        pollfd ready{fd, POLLIN, 0};
        char c = '\0';
        if (::poll(&ready, 1, 10000) != 1 || ::read(fd, &c, 1) != 1) return '\0';
        return c;
    }
    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int commands_ = -1;
    int reports_ = -1;
};

char wait_code(DWORD result) { return result == WAIT_OBJECT_0 ? 'o' : result == WAIT_ABANDONED ? 'a' : result == WAIT_TIMEOUT ? 't' : 'f'; }

// The child takes the mutex, reports 'H', releases on 'R' (reporting 'r') and exits on 'X'.
auto hold(const std::wstring& name) {
    return [name](const child_process& self) {
        HANDLE mutex = CreateMutexExW(nullptr, name.c_str(), 0, 0);
        if (!mutex || WaitForSingleObjectEx(mutex, 5000, FALSE) != WAIT_OBJECT_0) return;
        self.send('H');
        for (char command = self.receive(); command == 'R'; command = self.receive()) {
            ReleaseMutex(mutex);
            self.send('r');
        }
    };
}

TEST(Win32MutexProcesses, AnotherProcessCannotTakeItUntilReleased) {
    const std::wstring name = mutex_name("processes");
    child_process holder(hold(name));
    ASSERT_EQ(holder.receive(), 'H');

    unique_handle mutex(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    ASSERT_TRUE(mutex) << GetLastError();
    EXPECT_EQ(WaitForSingleObjectEx(mutex.get(), 0, FALSE), WAIT_TIMEOUT);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObjectEx(mutex.get(), 100, FALSE), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(95));

    holder.send('R');
    EXPECT_EQ(WaitForSingleObjectEx(mutex.get(), 5000, FALSE), WAIT_OBJECT_0);
    EXPECT_EQ(holder.receive(), 'r');
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
    holder.send('X');
}

TEST(Win32MutexProcesses, AWaiterGetsItAbandonedWhenTheHolderIsKilled) {
    const std::wstring name = mutex_name("killed");
    child_process holder(hold(name));
    ASSERT_EQ(holder.receive(), 'H');
    unique_handle mutex(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    ASSERT_TRUE(mutex);

    DWORD result = WAIT_FAILED;
    std::thread waiter([&] { result = WaitForSingleObjectEx(mutex.get(), 10000, FALSE); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    holder.kill();
    waiter.join();
    EXPECT_EQ(result, WAIT_ABANDONED);

    // The waiter thread has ended holding it: abandoned again, now by a thread of this process.
    EXPECT_EQ(WaitForSingleObjectEx(mutex.get(), 0, FALSE), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
    EXPECT_EQ(WaitForSingleObjectEx(mutex.get(), 0, FALSE), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
}

TEST(Win32MutexProcesses, ANameDiesWithTheLastProcessThatHadItOpen) {
    const std::wstring name = mutex_name("vanished");
    child_process holder(hold(name));
    ASSERT_EQ(holder.receive(), 'H');
    holder.kill();
    EXPECT_FALSE(unique_handle(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str())));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    unique_handle fresh(CreateMutexExW(nullptr, name.c_str(), 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObjectEx(fresh.get(), 0, FALSE), WAIT_OBJECT_0);  // a new mutex, not abandoned
    EXPECT_TRUE(ReleaseMutex(fresh.get()));
}

TEST(Win32MutexProcesses, AForkedChildNeitherUsesNorReleasesItsParentsMutex) {
    const std::wstring name = mutex_name("forked");
    unique_handle mutex(CreateMutexExW(nullptr, name.c_str(), CREATE_MUTEX_INITIAL_OWNER, 0));
    ASSERT_TRUE(mutex);
    HANDLE inherited = mutex.get();
    child_process child([&](const child_process& self) {
        self.send(wait_code(WaitForSingleObjectEx(inherited, 0, FALSE)));
        self.send(ReleaseMutex(inherited) ? 'y' : 'n');
        HANDLE own = CreateMutexExW(nullptr, name.c_str(), 0, 0);
        self.send(GetLastError() == ERROR_ALREADY_EXISTS ? 'e' : 'n');
        self.send(wait_code(WaitForSingleObjectEx(own, 0, FALSE)));
    });
    EXPECT_EQ(child.receive(), 'f');
    EXPECT_EQ(child.receive(), 'n');
    EXPECT_EQ(child.receive(), 'e');
    EXPECT_EQ(child.receive(), 't');
    child.kill();
    EXPECT_EQ(wait_in_other_thread(mutex.get(), 0), WAIT_TIMEOUT);  // still ours
    EXPECT_TRUE(ReleaseMutex(mutex.get()));
}

}  // namespace
