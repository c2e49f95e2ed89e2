// Extractions spread over several threads, with a caller that is slow, one that cancels and one
// that fails. Whatever the caller does, it is called one call at a time, hears of every entry it
// was given a stream for exactly once, and gets every stream back; a cancel stops every run.
#include "archive/tests/ExtractionTesting.h"

namespace Zorvik::Testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class ParallelRuns : public Extraction {
protected:
    static constexpr int kFiles = 48;
    static constexpr std::uint32_t kThreads = 3;
    static constexpr const char* kArchives[] = {"many.zip", "many.7z"};

    void SetUp() override {
        Extraction::SetUp();
        fs::create_directories(Path("many"));
        std::uint32_t state = 7;
        for (int i = 0; i < kFiles; ++i) {
            // Half noise, half text: something for the decoder to do, of sizes that differ.
            std::string data(20000 + (i * 7919) % 60000, 'x');
            for (std::size_t at = 0; at < data.size(); at += 2) data[at] = static_cast<char>((state = state * 1103515245 + 12345) >> 24);
            Write(Name(i), data);
            bytes_ += data.size();
        }
        Run("zip -qr many.zip many");
        Run("7z a -bd -ms=off many.7z many");
    }

    static std::string Name(int i) { return "many/f" + std::to_string(i) + ".bin"; }

    // Every file the caller was given a stream for was reported once, and has its bytes when it
    // succeeded.
    void ExpectEachReportedOnce(Heard& heard) {
        std::map<std::string, int> reports;
        for (const auto& [name, succeeded] : heard.completed) ++reports[name];
        for (const std::string& request : heard.fileRequests) {
            const std::string name = request.substr(request.rfind('/') + 1);
            EXPECT_EQ(reports[name], 1) << request;
            if (heard.Succeeded(name)) {
                EXPECT_EQ(heard.Content(request), OnDisk(request)) << request;
            }
        }
        EXPECT_EQ(*heard.streamsHeld, 0) << "every destination stream is let go";
    }

    std::uint64_t bytes_ = 0;
};

TEST_F(ParallelRuns, ASlowCallerIsCalledOneCallAtATimeFromSeveralRuns) {
    for (const char* file : kArchives) {
        SCOPED_TRACE(file);
        auto archive = Opened(file);
        Heard heard;
        CallWatch watch;
        auto callback = Recorder(heard,
                                 {.get_file_stream =
                                      [&heard](IArchiveItem*, std::wstring_view path) {
                                          std::this_thread::sleep_for(2ms);
                                          return file_stream_answer::into(heard.Destination(Utf8(path)));
                                      }},
                                 &watch);
        auto operation = StartSpreadExtract(archive, {Item(RootOf(archive.get()))}, callback, kThreads);
        ASSERT_EQ(EndOf(operation), AsyncStatus::Completed);
        EXPECT_TRUE(zorvik::rt::get(operation));
        EXPECT_FALSE(watch.overlapped.load());
        EXPECT_GE(watch.threads.size(), 2u) << "the runs called from threads of their own";
        EXPECT_EQ(heard.fileRequests.size(), std::size_t(kFiles));
        EXPECT_EQ(heard.completed.size(), heard.itemCount);
        EXPECT_TRUE(heard.failed.empty());
        EXPECT_EQ(heard.total, bytes_) << "one total for all runs";
        ExpectEachReportedOnce(heard);
    }
}

TEST_F(ParallelRuns, ACancelStopsEveryRunPromptlyAndNothingSucceedsAfterIt) {
    // Each way cancels once the fifth file has been asked for.
    struct Way {
        const char* name;
        bool byOperation;             // the operation's Cancel, else the answer given here
        std::int32_t fileAnswer;      // to the fifth file request
        std::int32_t progressAnswer;  // once the fifth file was asked for
    };
    const Way ways[] = {
        {"the operation's Cancel", true, ExtractionAnswer::Continue, ExtractionAnswer::Continue},
        {"a cancel answer to a file request", false, ExtractionAnswer::Cancel, ExtractionAnswer::Continue},
        {"a cancel answer to progress", false, ExtractionAnswer::Continue, ExtractionAnswer::Cancel},
    };
    for (const char* file : kArchives) {
        for (const Way& way : ways) {
            SCOPED_TRACE(std::string(file) + ", " + way.name);
            auto archive = Opened(file);
            Heard heard;
            CallWatch watch;
            com_ptr<IAsyncOperation<bool>> operation;
            std::atomic<bool> operationSet{false};
            Clock::time_point canceledAt{};
            std::size_t completedBefore = 0;
            const auto cancelNow = [&] {
                if (canceledAt != Clock::time_point{}) return;
                canceledAt = Clock::now();
                completedBefore = heard.completed.size();
                if (way.byOperation) {
                    while (!operationSet.load()) std::this_thread::yield();
                    operation.as<ABI::Windows::Foundation::IAsyncInfo>()->Cancel();
                }
            };
            extraction_callback_hooks hooks;
            hooks.get_file_stream = [&](IArchiveItem*, std::wstring_view path) {
                std::this_thread::sleep_for(1ms);
                if (heard.fileRequests.size() == 5 && way.progressAnswer != ExtractionAnswer::Cancel) {
                    cancelNow();
                    if (way.fileAnswer == ExtractionAnswer::Cancel) return file_stream_answer::canceled();
                }
                return file_stream_answer::into(heard.Destination(Utf8(path)));
            };
            hooks.set_completed = [&](std::uint64_t) {
                if (heard.fileRequests.size() < 5 || way.progressAnswer != ExtractionAnswer::Cancel) return ExtractionAnswer::Continue;
                cancelNow();
                return ExtractionAnswer::Cancel;
            };
            auto callback = Recorder(heard, hooks, &watch);
            operation = StartSpreadExtract(archive, {Item(RootOf(archive.get()))}, callback, kThreads);
            operationSet = true;
            EXPECT_EQ(EndOf(operation), AsyncStatus::Canceled);
            const auto stopping = Clock::now() - canceledAt;
            EXPECT_LT(stopping, 200ms) << "every run stops at its next call";
            EXPECT_FALSE(watch.overlapped.load());
            // A cancel answer leaves the entries still decoding unfinished; the operation's Cancel
            // is seen at the next call, as with one thread.
            for (std::size_t i = completedBefore; i < heard.completed.size() && !way.byOperation; ++i)
                EXPECT_FALSE(heard.completed[i].second) << heard.completed[i].first << " reported whole after the cancel";
            EXPECT_LT(heard.fileRequests.size(), std::size_t(kFiles));
            ExpectEachReportedOnce(heard);
        }
    }
}

TEST_F(ParallelRuns, ACallerThatFailsEndsEveryRunAsItEndsOne) {
    for (const char* file : kArchives) {
        SCOPED_TRACE(file);
        auto archive = Opened(file);
        Heard heard;
        CallWatch watch;
        auto callback = Recorder(heard,
                                 {.get_file_stream =
                                      [&heard](IArchiveItem*, std::wstring_view path) {
                                          std::this_thread::sleep_for(1ms);
                                          if (heard.fileRequests.size() == 7) throw zorvik::rt::hresult_error(E_ACCESSDENIED, "refused");
                                          return file_stream_answer::into(heard.Destination(Utf8(path)));
                                      }},
                                 &watch);
        auto operation = StartSpreadExtract(archive, {Item(RootOf(archive.get()))}, callback, kThreads);
        // The failure reaches the engine, which gives up: an ordinary failure, as with one thread.
        ASSERT_EQ(EndOf(operation), AsyncStatus::Completed);
        EXPECT_FALSE(zorvik::rt::get(operation));
        EXPECT_FALSE(watch.overlapped.load());
        EXPECT_LT(heard.fileRequests.size(), std::size_t(kFiles)) << "the other runs stopped too";
        ExpectEachReportedOnce(heard);
    }
}

}  // namespace
}  // namespace Zorvik::Testing
