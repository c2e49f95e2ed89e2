// Operations running at once: extractions of different archives, a tree build beside an
// extraction on one Archive, and cancels in the middle of one of them. Each must end as it
// should, deliver intact data, and let go of every stream it was given.
#include <condition_variable>
#include <functional>

#include "archive/tests/UpdateTesting.h"

namespace Zorvik::Testing {
namespace {

using namespace std::chrono_literals;

// Lets each of a number of threads go on only once all have arrived; false when the others
// did not arrive in time, so that operations that never overlap fail instead of hanging.
class Meeting {
public:
    explicit Meeting(int parties) : waiting_(parties) {}
    bool ArriveAndWait() {
        std::unique_lock lock(mutex_);
        if (--waiting_ == 0) all_.notify_all();
        return all_.wait_for(lock, 30s, [&] { return waiting_ <= 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable all_;
    int waiting_;
};

class Concurrency : public Extraction {
protected:
    void SetUp() override {
        Extraction::SetUp();
        Run("7z a -bd one.7z tree");
        Run("zip -qr two.zip tree");
    }

    // Hooks whose first file request waits at the meeting; met tells whether the others came.
    static extraction_callback_hooks MeetingFirst(Heard& heard, Meeting& meeting, bool& met) {
        return {.get_file_stream = [&heard, &meeting, &met, first = true](IArchiveItem*, std::wstring_view path) mutable {
            if (std::exchange(first, false)) met = meeting.ArriveAndWait();
            return file_stream_answer::into(heard.Destination(Utf8(path)));
        }};
    }

    void ExpectWholeTree(Heard& heard) {
        for (const char* path : kTreeFiles) EXPECT_EQ(heard.Content(KeyOf(path)), OnDisk(path)) << path;
        EXPECT_TRUE(std::all_of(heard.completed.begin(), heard.completed.end(), [](const auto& c) { return c.second; }));
        EXPECT_TRUE(heard.failed.empty());
    }
};

TEST_F(Concurrency, ExtractionsOfDifferentArchivesRunAtOnce) {
    auto one = Opened("one.7z");
    auto two = Opened("two.zip");
    Meeting meeting(2);
    Heard heardOne, heardTwo;
    bool metOne = false, metTwo = false;
    auto callbackOne = Recorder(heardOne, MeetingFirst(heardOne, meeting, metOne));
    auto callbackTwo = Recorder(heardTwo, MeetingFirst(heardTwo, meeting, metTwo));
    auto first = ExtractAsync(one.get(), {Item(RootOf(one.get()))}, callbackOne.get());
    auto second = ExtractAsync(two.get(), {Item(RootOf(two.get()))}, callbackTwo.get());

    ASSERT_EQ(EndOf(first), AsyncStatus::Completed);
    ASSERT_EQ(EndOf(second), AsyncStatus::Completed);
    EXPECT_TRUE(metOne && metTwo) << "both were inside the engine at the same time";
    EXPECT_TRUE(zorvik::rt::get(first));
    EXPECT_TRUE(zorvik::rt::get(second));
    ExpectWholeTree(heardOne);
    ExpectWholeTree(heardTwo);
    EXPECT_EQ(*heardOne.streamsHeld, 0);
    EXPECT_EQ(*heardTwo.streamsHeld, 0);
}

TEST_F(Concurrency, ATreeBuildAndAnExtractionShareOneArchive) {
    // The tree is asked for again, and walked, while the engine extracts from its entries.
    auto archive = Opened("one.7z");
    auto root = RootOf(archive.get());

    Heard heard;
    com_ptr<IArchiveFolder> askedMeanwhile;
    auto callback = Recorder(heard, {.get_file_stream = [&, first = true](IArchiveItem*, std::wstring_view path) mutable {
                                 if (std::exchange(first, false)) {
                                     auto build = StartTree(archive.get());
                                     if (EndOf(build) == AsyncStatus::Completed) askedMeanwhile = zorvik::rt::get(build);
                                     Describe(askedMeanwhile);
                                 }
                                 return file_stream_answer::into(heard.Destination(Utf8(path)));
                             }});
    auto extraction = ExtractAsync(archive.get(), {Item(root)}, callback.get());
    ASSERT_EQ(EndOf(extraction), AsyncStatus::Completed);
    EXPECT_TRUE(zorvik::rt::get(extraction));
    ExpectWholeTree(heard);
    EXPECT_EQ(*heard.streamsHeld, 0);
    EXPECT_EQ(askedMeanwhile.get(), root.get()) << "built once";

    // And without any ordering: a fresh Archive builds its tree while an extraction is given
    // items of another Archive's, which are refused whenever the check meets the build.
    auto other = Opened("one.7z");
    auto otherRoot = RootOf(other.get());
    auto fresh = Opened("one.7z");
    Heard refused;
    auto build = StartTree(fresh.get());
    auto running = ExtractAsync(fresh.get(), {Item(otherRoot)}, Recorder(refused).get());
    ASSERT_EQ(EndOf(build), AsyncStatus::Completed);
    ASSERT_EQ(EndOf(running), AsyncStatus::Error);
    EXPECT_EQ(ErrorOf(running.as<ABI::Windows::Foundation::IAsyncInfo>().get()), E_INVALIDARG);
    EXPECT_EQ(Describe(zorvik::rt::get(build)), Describe(otherRoot));
    EXPECT_TRUE(refused.fileRequests.empty());
    EXPECT_EQ(*refused.streamsHeld, 0);
}

TEST_F(Concurrency, ACancelInTheMiddleOfOneExtractionLeavesTheOtherAndEveryStreamAlone) {
    // The canceled extraction stops with its first file's stream already handed out.
    struct Way {
        const char* name;
        std::function<extraction_callback_hooks(Heard&, com_ptr<IAsyncOperation<bool>>&, Meeting&)> hooks;
    };
    const Way ways[] = {
        {"the operation's Cancel",
         [](Heard& heard, com_ptr<IAsyncOperation<bool>>& self, Meeting& meeting) -> extraction_callback_hooks {
             return {.get_file_stream = [&heard, &self, &meeting, first = true](IArchiveItem*, std::wstring_view path) mutable {
                 if (std::exchange(first, false)) {
                     meeting.ArriveAndWait();
                     self.as<ABI::Windows::Foundation::IAsyncInfo>()->Cancel();
                 }
                 return file_stream_answer::into(heard.Destination(Utf8(path)));
             }};
         }},
        {"a cancel answer to progress",
         [](Heard& heard, com_ptr<IAsyncOperation<bool>>&, Meeting& meeting) -> extraction_callback_hooks {
             return {.get_file_stream =
                         [&heard, &meeting, first = true](IArchiveItem*, std::wstring_view path) mutable {
                             if (std::exchange(first, false)) meeting.ArriveAndWait();
                             return file_stream_answer::into(heard.Destination(Utf8(path)));
                         },
                     .set_completed = [&heard](std::uint64_t) { return heard.streamsHandedOut > 0 ? 1 : 0; }};
         }},
    };
    auto canceled = Opened("one.7z");
    auto kept = Opened("two.zip");
    auto canceledRoot = Item(RootOf(canceled.get()));
    auto keptRoot = Item(RootOf(kept.get()));
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        Meeting meeting(2);
        Heard stopped, finished;
        bool met = false;
        com_ptr<IAsyncOperation<bool>> stopping;
        auto stoppingCallback = Recorder(stopped, way.hooks(stopped, stopping, meeting));
        auto finishingCallback = Recorder(finished, MeetingFirst(finished, meeting, met));
        // The canceling callback reads stopping only after the meeting, which the other
        // operation, started after stopping is set, reaches too.
        stopping = ExtractAsync(canceled.get(), {canceledRoot}, stoppingCallback.get());
        auto finishing = ExtractAsync(kept.get(), {keptRoot}, finishingCallback.get());

        EXPECT_EQ(EndOf(stopping), AsyncStatus::Canceled);
        ASSERT_EQ(EndOf(finishing), AsyncStatus::Completed);
        EXPECT_TRUE(met);
        EXPECT_TRUE(zorvik::rt::get(finishing));
        ExpectWholeTree(finished);
        EXPECT_GE(stopped.streamsHandedOut, 1);
        EXPECT_LT(std::count_if(stopped.completed.begin(), stopped.completed.end(), [](const auto& c) { return c.second; }),
                  static_cast<std::ptrdiff_t>(stopped.itemCount))
            << "the canceled extraction stopped before its end";
        EXPECT_TRUE(stopped.failed.empty()) << "a cancel is no failure of an entry";
        EXPECT_EQ(*stopped.streamsHeld, 0);
        EXPECT_EQ(*finished.streamsHeld, 0);

        Heard again;
        EXPECT_TRUE(Extract(canceled, {canceledRoot}, again)) << "the canceled operation released the file lock";
        ExpectWholeTree(again);
    }
}

TEST_F(Concurrency, AnUpdateRacesATreeBuildAnExtractionAndAClose) {
    // No order among them: each ends as one of the outcomes its race allows, and an update that
    // succeeds wrote a whole archive.
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        auto archive = Opened("one.7z");
        auto other = Opened("one.7z");
        const auto out = Path("out" + std::to_string(round) + ".7z");
        const auto destination = zorvik::rt::open_file_stream(out.wstring(), ABI::Windows::Storage::FileAccessMode::ReadWrite,
                                                              ABI::Windows::Storage::FileCreationDisposition::CreateAlways);
        UpdateHeard asked;
        const auto updateCallback = UpdateRecorder(asked);
        Heard heard;
        const auto extractCallback = Recorder(heard);

        auto update = Add(archive.get(), {Addable(L"tree/new.txt", std::string(100000, 'n'))}, updateCallback.get())(destination.get());
        auto build = StartTree(archive.get());
        auto extraction = ExtractAsync(archive.get(), {Item(RootOf(other.get()))}, extractCallback.get());
        com_ptr<IAsyncOperation<bool>> close;
        ASSERT_EQ(archive->CloseAsync(close.put()), S_OK);

        const auto updated = EndOf(update);
        EndOf(build);
        EndOf(extraction);
        EndOf(close);
        if (updated == AsyncStatus::Completed && zorvik::rt::get(update) == UpdateResult::Success) {
            EXPECT_TRUE(SevenZipTests(out));
        } else if (updated == AsyncStatus::Error) {
            HRESULT error = S_OK;
            update.as<ABI::Windows::Foundation::IAsyncInfo>()->get_ErrorCode(&error);
            EXPECT_TRUE(error == HRESULT_FROM_WIN32(ERROR_BUSY) || error == E_ILLEGAL_METHOD_CALL) << std::hex << error;
        }
        EXPECT_EQ(*heard.streamsHeld, 0);
    }
}

TEST_F(Concurrency, AnUpdateWhoseArchiveIsOpenedAgainOnAnotherFileMeanwhileWritesNothing) {
    // Its plan names entries of the tree it began with: written with the other file's entries,
    // it would rename one of those and call that a success.
    Run("7z a -bd other.7z tree/a");
    auto archive = Opened("one.7z");
    const auto item = Node(archive.get(), "tree/noise.bin");
    update_callback_hooks hooks;
    bool reopened = false;
    hooks.set_item_count = [&](std::uint32_t) {
        if (std::exchange(reopened, true)) return;
        EXPECT_TRUE(OpenArchive(archive.get(), Path("other.7z")));
    };
    const auto callback = make_update_callback(std::move(hooks));
    const auto destination = zorvik::rt::make_in_memory_stream();
    com_ptr<IAsyncOperation<UpdateResult>> operation;
    ASSERT_EQ(
        archive->RenameAsync(item.get(), zorvik::rt::hstring(L"renamed.bin").get(), callback.get(), destination.get(), operation.put()),
        S_OK);
    ASSERT_EQ(EndOf(operation), AsyncStatus::Error);
    EXPECT_TRUE(reopened);
    EXPECT_EQ(ErrorOf(operation.as<ABI::Windows::Foundation::IAsyncInfo>().get()), E_ILLEGAL_METHOD_CALL);
    std::uint64_t written = 0;
    ASSERT_EQ(destination->get_Size(&written), S_OK);
    EXPECT_EQ(written, 0u);
}

TEST_F(Concurrency, ATreeBuiltWhileTheArchiveInsideIsOpenedIsDropped) {
    // A gzip holding a tar of many entries: the tar handler takes a while to open inside it,
    // while the gzip's handler, with its one entry, is already the archive's.
    fs::create_directories(Path("many"));
    for (int i = 0; i < 5000; ++i) Write("many/f" + std::to_string(i), "x");
    Run("tar czf many.tgz many");
    bool raced = false;
    for (int attempt = 0; attempt < 5 && !raced; ++attempt) {
        auto archive = NewArchive();
        com_ptr<IAsyncOperation<bool>> opening;
        ASSERT_EQ(archive->OpenAsync(OpenFile(Path("many.tgz")).get(), SourceFor(Path("many.tgz")).get(), opening.put()), S_OK);
        const auto info = opening.as<ABI::Windows::Foundation::IAsyncInfo>();
        for (AsyncStatus status = AsyncStatus::Started; info->get_Status(&status), status == AsyncStatus::Started;) {
            auto build = StartTree(archive.get());
            raced = EndOf(build) == AsyncStatus::Completed && (info->get_Status(&status), status == AsyncStatus::Started);
            if (raced) break;
        }
        ASSERT_TRUE(zorvik::rt::get(opening));
        const auto root = RootOf(archive.get());
        ASSERT_EQ(NamesOf(ItemsOf(root)), std::vector<std::wstring>{L"many"}) << "the tar's entries, not the gzip's";
        EXPECT_EQ(ItemsOf(FolderNamed(root, L"many")).size(), 5000u);
    }
    EXPECT_TRUE(raced) << "no tree was built while the tar was being opened";
}

}  // namespace
}  // namespace Zorvik::Testing
