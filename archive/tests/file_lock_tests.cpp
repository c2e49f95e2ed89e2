#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "archive/FileLock.h"

namespace Zorvik::Impl {
namespace {

TEST(FileLock, SpellingsOfOnePathShareOneName) {
    EXPECT_EQ(FileLock::NameFor(L"C:\\Data\\Photos.7z"), FileLock::NameFor(L"c:_data_photos.7Z"));
    EXPECT_EQ(FileLock::NameFor(L"/home/Ann/A.ZIP"), L"/home/ann/a.zip");
    EXPECT_NE(FileLock::NameFor(L"/home/ann/a.zip"), FileLock::NameFor(L"/home/ann/b.zip"));
}

TEST(FileLock, ExcludesOtherHoldersInThisProcess) {
    FileLock first(L"/tmp/Zorvik-Lock-Test-A.7z");
    FileLock second(L"/tmp/zorvik-lock-test-a.7z");
    ASSERT_TRUE(first.TryAcquire());
    bool takenElsewhere = true;
    std::thread([&] { takenElsewhere = second.TryAcquire(); }).join();
    EXPECT_FALSE(takenElsewhere);
    first.Release();
    std::thread([&] {
        takenElsewhere = second.TryAcquire();
        if (takenElsewhere) second.Release();
    }).join();
    EXPECT_TRUE(takenElsewhere);
}

TEST(FileLock, ExcludesOtherProcesses) {
    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FileLock lock(L"/tmp/zorvik-lock-test-b.7z");
        const char taken = lock.TryAcquire() ? 1 : 0;
        (void)!write(ready[1], &taken, 1);
        char wait = 0;
        (void)!read(done[0], &wait, 1);
        lock.Release();
        _exit(0);
    }
    char childTook = 0;
    ASSERT_EQ(read(ready[0], &childTook, 1), 1);
    ASSERT_EQ(childTook, 1);
    {
        FileLock lock(L"/tmp/ZORVIK-LOCK-TEST-B.7z");
        EXPECT_FALSE(lock.TryAcquire()) << "the other process holds it";
        (void)!write(done[1], "x", 1);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(lock.TryAcquire()) << "released when the other process let go";
        lock.Release();
    }
    for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
}

}  // namespace
}  // namespace Zorvik::Impl
