// Extraction through the engine: the paths and callbacks the caller sees, passwords, retries,
// cancels and the busy file lock.
#include <future>

#include "archive/tests/ExtractionTesting.h"

namespace Zorvik::Testing {
namespace {

TEST_F(Extraction, PathsAreRelativeToTheParentOfTheChosenItem) {
    Run("7z a -bd t.7z tree");
    auto archive = Opened("t.7z");
    auto root = RootOf(archive.get());
    auto tree = FolderNamed(root, L"tree");
    auto a = FolderNamed(tree, L"a");
    auto c = FolderNamed(a, L"c");
    auto b = FilesOf(a).at(0);

    Heard chosenA;
    ASSERT_TRUE(Extract(archive, {Item(a)}, chosenA));
    EXPECT_EQ(Sorted(chosenA.folders), (std::vector<std::string>{"a", "a/c"}));
    EXPECT_EQ(Sorted(chosenA.fileRequests), (std::vector<std::string>{"a/b.txt", "a/c/d.txt"}));
    EXPECT_EQ(chosenA.itemCount, 4u) << "folders count too";

    Heard chosenC;
    ASSERT_TRUE(Extract(archive, {Item(c)}, chosenC));
    EXPECT_EQ(chosenC.folders, (std::vector<std::string>{"c"}));
    EXPECT_EQ(chosenC.fileRequests, (std::vector<std::string>{"c/d.txt"}));

    Heard folderAndFile;
    ASSERT_TRUE(Extract(archive, {Item(a), Item(b)}, folderAndFile));
    EXPECT_EQ(Sorted(folderAndFile.fileRequests), (std::vector<std::string>{"a/c/d.txt", "b.txt"}))
        << "one entry is extracted once, with the path of its later choice";
    EXPECT_EQ(folderAndFile.Content("b.txt"), "bee\n");

    Heard whole;
    ASSERT_TRUE(Extract(archive, {Item(root)}, whole));
    EXPECT_EQ(Sorted(whole.folders), (std::vector<std::string>{"tree", "tree/a", "tree/a/c", "tree/empty"}))
        << "the root stands for no entry";
    EXPECT_EQ(whole.Content("tree/a/c/d.txt"), std::string(3000, 'd'));

    Heard none;
    EXPECT_FALSE(Extract(archive, {}, none));
    EXPECT_EQ(none.itemCount, 0u);
    EXPECT_TRUE(none.fileRequests.empty());
}

TEST_F(Extraction, ImplicitFoldersStandForNoEntry) {
    Run("cd tree && zip -qD ../implicit.zip a/b.txt a/c/d.txt");
    auto archive = Opened("implicit.zip");
    Heard heard;
    ASSERT_TRUE(Extract(archive, {Item(FolderNamed(RootOf(archive.get()), L"a"))}, heard));
    EXPECT_TRUE(heard.folders.empty());
    EXPECT_EQ(heard.itemCount, 2u);
    EXPECT_EQ(heard.Content("a/c/d.txt"), std::string(3000, 'd'));
}

TEST_F(Extraction, SkippedAndNullStreamsAndCancelFromGetFileStream) {
    Run("7z a -bd -ms=off t.7z tree");
    auto archive = Opened("t.7z");
    auto root = RootOf(archive.get());

    Heard skipping;
    ASSERT_TRUE(Extract(archive, {Item(root)}, skipping, {.get_file_stream = [&](IArchiveItem* item, std::wstring_view path) {
                            if (NameOfItem(item) == "noise.bin") return file_stream_answer::into(nullptr);
                            if (NameOfItem(item) == "zero.txt") return file_stream_answer::skipped();
                            auto stream = zorvik::rt::make_in_memory_stream();
                            skipping.files[Utf8(path)] = stream;
                            return file_stream_answer::into(stream);
                        }}));
    EXPECT_EQ(skipping.Content("tree/a/c/d.txt"), std::string(3000, 'd'));
    EXPECT_TRUE(std::any_of(skipping.completed.begin(), skipping.completed.end(), [](const auto& c) { return c.first == "noise.bin"; }))
        << "a null stream still hears the engine's result";

    Heard canceling;
    auto operation = StartExtract(
        archive, {Item(root)},
        Recorder(canceling, {.get_file_stream = [](IArchiveItem*, std::wstring_view) { return file_stream_answer::canceled(); }}));
    EXPECT_EQ(zorvik::rt::wait(operation.get()), AsyncStatus::Canceled);
    EXPECT_EQ(canceling.fileRequests.size(), 1u);
    ASSERT_FALSE(canceling.completed.empty());
    EXPECT_FALSE(canceling.completed.back().second) << "the entry the engine stopped in";
    EXPECT_EQ(std::count_if(canceling.completed.begin(), canceling.completed.end(), [](const auto& c) { return !c.second; }), 1);
}

TEST_F(Extraction, EncryptedEntriesAskForThePassword) {
    const std::pair<const char*, const char*> kinds[] = {
        {"e.7z", "7z a -bd -psecret e.7z tree/a/b.txt"},
        {"aes.zip", "7z a -bd -tzip -mem=AES256 -psecret aes.zip tree/a/b.txt"},
        {"zipcrypto.zip", "zip -q -P secret zipcrypto.zip tree/a/b.txt"},
    };
    for (const auto& [name, command] : kinds) {
        SCOPED_TRACE(name);
        Run(command);
        auto archive = Opened(name);
        auto file = Item(FilesOf(FolderNamed(FolderNamed(RootOf(archive.get()), L"tree"), L"a")).at(0));

        Heard right;
        ASSERT_TRUE(Extract(archive, {file}, right, {.get_password = [](IArchiveItem*) { return password_answer::given(L"secret"); }}));
        EXPECT_FALSE(right.passwordItemGiven.empty());
        EXPECT_TRUE(std::all_of(right.passwordItemGiven.begin(), right.passwordItemGiven.end(), [](bool given) { return given; }))
            << "the provider hears which entry needs it";
        EXPECT_EQ(right.Content("b.txt"), "bee\n");
        EXPECT_EQ(right.completed, (std::vector<std::pair<std::string, bool>>{{"b.txt", true}}));

        Heard wrong;
        Extract(archive, {file}, wrong, {.get_password = [](IArchiveItem*) { return password_answer::given(L"nope"); }});
        EXPECT_FALSE(wrong.passwordItemGiven.empty());
        EXPECT_EQ(wrong.completed, (std::vector<std::pair<std::string, bool>>{{"b.txt", false}}));
        EXPECT_EQ(wrong.failed, (std::vector<std::pair<std::string, std::int32_t>>{{"b.txt", ExtractionFailure::Encrypted}}));

        Heard declined;
        Extract(archive, {file}, declined, {.get_password = [](IArchiveItem*) { return password_answer::declined(); }});
        EXPECT_EQ(declined.completed, (std::vector<std::pair<std::string, bool>>{{"b.txt", false}}));
        EXPECT_TRUE(declined.failed.empty()) << "a declined password is no failure to report";

        Heard canceling;
        auto operation =
            StartExtract(archive, {file}, Recorder(canceling, {.get_password = [](IArchiveItem*) { return password_answer::canceled(); }}));
        EXPECT_EQ(zorvik::rt::wait(operation.get()), AsyncStatus::Canceled);
        EXPECT_FALSE(canceling.Succeeded("b.txt"));
        EXPECT_TRUE(canceling.failed.empty());
        EXPECT_EQ(*canceling.streamsHeld, 0);
    }
}

TEST_F(Extraction, RetryRerunsTheEngineForTheRemainingEntriesOnly) {
    for (char n = '1'; n <= '5'; ++n) Write(std::string("f") + n + ".txt", std::string(2000, n) + "unique-" + n);
    Run("zip -q0 five.zip f1.txt f2.txt f3.txt f4.txt f5.txt");
    {
        // Corrupt the third entry's stored data so that its CRC check fails.
        std::fstream zip(Path("five.zip"), std::ios::in | std::ios::out | std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(zip)), {});
        const auto at = bytes.find(std::string(2000, '3'));
        ASSERT_NE(at, std::string::npos);
        zip.seekp(static_cast<std::streamoff>(at + 10));
        zip.put('X');
    }
    auto archive = Opened("five.zip");
    std::vector<com_ptr<IArchiveItem>> all;
    for (auto& file : FilesOf(RootOf(archive.get()))) all.push_back(Item(file));

    Heard heard;
    int failures = 0;
    EXPECT_TRUE(Extract(archive, all, heard, {.item_failed = [&](IArchiveItem*, std::int32_t) { return ++failures == 1 ? 3 : 0; }}));
    EXPECT_EQ(heard.fileRequests, (std::vector<std::string>{"f1.txt", "f2.txt", "f3.txt", "f3.txt", "f4.txt", "f5.txt"}));
    EXPECT_EQ(heard.failed, (std::vector<std::pair<std::string, std::int32_t>>{{"f3.txt", ExtractionFailure::DataCheck},
                                                                               {"f3.txt", ExtractionFailure::DataCheck}}));
    EXPECT_EQ(heard.Content("f5.txt"), std::string(2000, '5') + "unique-5");
    EXPECT_EQ(*heard.streamsHeld, 0) << "the stream of the retried entry too";

    Heard canceled;
    auto operation = StartExtract(archive, all, Recorder(canceled, {.item_failed = [](IArchiveItem*, std::int32_t) { return 1; }}));
    EXPECT_EQ(zorvik::rt::wait(operation.get()), AsyncStatus::Canceled);
    EXPECT_EQ(canceled.fileRequests.size(), 3u);
    EXPECT_EQ(*canceled.streamsHeld, 0);
}

TEST_F(Extraction, ASecondExtractionOfTheSameFileFailsAtOnceWhileTheFirstRuns) {
    Run("7z a -bd t.7z tree");
    auto archive = Opened("t.7z");
    auto other = Opened("t.7z");
    auto root = Item(RootOf(archive.get()));
    auto otherRoot = Item(RootOf(other.get()));

    std::promise<void> entered;
    std::promise<void> release;
    auto released = release.get_future().share();
    bool first = true;
    Heard running;
    auto operation = StartExtract(archive, {root}, Recorder(running, {.get_file_stream = [&](IArchiveItem*, std::wstring_view) {
                                                                if (std::exchange(first, false)) {
                                                                    entered.set_value();
                                                                    released.wait();
                                                                }
                                                                return file_stream_answer::skipped();
                                                            }}));
    entered.get_future().wait();
    for (const auto& [target, item] : {std::pair{archive, root}, std::pair{other, otherRoot}}) {
        Heard busy;
        auto second = StartExtract(target, {item}, Recorder(busy));
        EXPECT_EQ(zorvik::rt::wait(second.get()), AsyncStatus::Error);
        HRESULT code = S_OK;
        second.as<ABI::Windows::Foundation::IAsyncInfo>()->get_ErrorCode(&code);
        EXPECT_EQ(code, static_cast<HRESULT>(0x800700AA));
        EXPECT_TRUE(busy.fileRequests.empty());
    }
    release.set_value();
    EXPECT_TRUE(zorvik::rt::get(operation));

    Heard after;
    EXPECT_TRUE(Extract(other, {otherRoot}, after)) << "the lock is free again";
}

TEST_F(Extraction, DataThatNeverReachesItsStreamIsAFailureNotASuccess) {
    Run("7z a -bd t.7z tree/a/b.txt");
    Write("readonly.bin", "");
    auto archive = Opened("t.7z");
    auto file = Item(FilesOf(FolderNamed(FolderNamed(RootOf(archive.get()), L"tree"), L"a")).at(0));
    Heard heard;
    // The engine's write is only buffered; the platform refuses it when the tail is handed over.
    EXPECT_FALSE(Extract(archive, {file}, heard, {.get_file_stream = [&](IArchiveItem*, std::wstring_view) {
                             return file_stream_answer::into(OpenFile(Path("readonly.bin")));
                         }}));
    EXPECT_EQ(heard.completed, (std::vector<std::pair<std::string, bool>>{{"b.txt", false}}));
    EXPECT_EQ(heard.failed, (std::vector<std::pair<std::string, std::int32_t>>{{"b.txt", ExtractionFailure::Other}}));
}

TEST_F(Extraction, ItemsOfAnotherArchiveThatNameNoEntryHereAreRefused) {
    Run("7z a -bd one.7z tree/a/b.txt");
    Run("7z a -bd many.7z tree");
    auto one = Opened("one.7z");
    auto many = Opened("many.7z");
    std::vector<com_ptr<IArchiveItem>> all{Item(RootOf(many.get()))};
    Heard heard;
    auto operation = StartExtract(one, all, Recorder(heard));
    EXPECT_EQ(zorvik::rt::wait(operation.get()), AsyncStatus::Error);
    HRESULT code = S_OK;
    operation.as<ABI::Windows::Foundation::IAsyncInfo>()->get_ErrorCode(&code);
    EXPECT_EQ(code, E_INVALIDARG);
    EXPECT_TRUE(heard.fileRequests.empty());
}

TEST_F(Extraction, NothingOpenIsAnIllegalCall) {
    Run("7z a -bd t.7z tree");
    auto archive = Opened("t.7z");
    auto root = Item(RootOf(archive.get()));
    com_ptr<IAsyncOperation<bool>> close;
    zorvik::rt::check_hresult(archive->CloseAsync(close.put()));
    zorvik::rt::get(close);
    Heard heard;
    auto operation = StartExtract(archive, {root}, Recorder(heard));
    EXPECT_EQ(zorvik::rt::wait(operation.get()), AsyncStatus::Error);
    HRESULT code = S_OK;
    operation.as<ABI::Windows::Foundation::IAsyncInfo>()->get_ErrorCode(&code);
    EXPECT_EQ(code, E_ILLEGAL_METHOD_CALL);
    EXPECT_EQ(heard.itemCount, 0u);
}

}  // namespace
}  // namespace Zorvik::Testing
