// The reader's extraction runs the library on a thread of its own, ahead of the caller's: the
// caller must still hear every callback on its own thread, get every byte, and be able to stop
// the decoding at any point, also when it is blocked waiting for the caller.
#include <chrono>
#include <random>
#include <thread>

#include "rar/tests/RarTesting.h"

namespace UnRAR::Testing {
namespace {

constexpr HRESULT_t kAbort = static_cast<HRESULT_t>(0x80004004);

// Forwards to an inner callback and remembers every thread a call came from.
class ThreadRecorder {
public:
    void Saw() {
        std::lock_guard lock(mutex_);
        threads_.insert(std::this_thread::get_id());
    }
    std::set<std::thread::id> Threads() {
        std::lock_guard lock(mutex_);
        return threads_;
    }

private:
    std::mutex mutex_;
    std::set<std::thread::id> threads_;
};

class RecordedVolumes final : public IOpenCallback {
public:
    RecordedVolumes(std::shared_ptr<MemoryVolumes> inner, ThreadRecorder& recorder) : inner_(std::move(inner)), recorder_(recorder) {}
    std::wstring GetArchiveName() override { return recorder_.Saw(), inner_->GetArchiveName(); }
    HRESULT_t OpenVolume(const std::wstring& name, std::shared_ptr<IInputStream>& stream) override {
        return recorder_.Saw(), inner_->OpenVolume(name, stream);
    }
    HRESULT_t GetPassword(wchar_t* buffer) override { return recorder_.Saw(), inner_->GetPassword(buffer); }

private:
    std::shared_ptr<MemoryVolumes> inner_;
    ThreadRecorder& recorder_;
};

// Records into a MemoryExtraction; cancelAfter > 0 answers cancel once that many bytes were
// reported done.
class RecordedExtraction final : public IExtractCallback {
public:
    explicit RecordedExtraction(ThreadRecorder& recorder, std::uint64_t cancelAfter = 0) : recorder_(recorder), cancelAfter_(cancelAfter) {}
    HRESULT_t GetStream(std::uint32_t index, std::shared_ptr<IOutputStream>& stream) override {
        return recorder_.Saw(), inner.GetStream(index, stream);
    }
    bool PrepareOperation() override { return recorder_.Saw(), inner.PrepareOperation(); }
    bool SetOperationResult(std::int32_t result) override { return recorder_.Saw(), inner.SetOperationResult(result); }
    bool SetTotal(std::uint64_t total) override { return recorder_.Saw(), inner.SetTotal(total); }
    bool SetCompleted(const std::uint64_t* completed) override {
        recorder_.Saw();
        inner.SetCompleted(completed);
        return cancelAfter_ == 0 || *completed < cancelAfter_;
    }
    HRESULT_t GetPassword(wchar_t* buffer) override {
        ++passwordRequests;
        return recorder_.Saw(), inner.GetPassword(buffer);
    }

    MemoryExtraction inner;
    int passwordRequests = 0;

private:
    ThreadRecorder& recorder_;
    std::uint64_t cancelAfter_;
};

class ReaderExtraction : public RarFolder {
protected:
    // A file well over what the decoding thread may hold ahead of the caller, quick to decode.
    static std::string LargeContent() {
        std::string content;
        std::mt19937 random(3);
        while (content.size() < (40u << 20)) content += "record " + std::to_string(random() % 1000) + " of a large file\n";
        return content;
    }

    // Opens the archive (or volume set) whose files' names start with prefix, from the first.
    void Open(Reader& reader, const std::wstring& prefix, ThreadRecorder& recorder) {
        auto volumes = std::make_shared<MemoryVolumes>();
        for (const auto& file : std::filesystem::directory_iterator(root_))
            if (file.path().filename().wstring().rfind(prefix, 0) == 0)
                volumes->volumes[file.path().filename().wstring()] = ReadBytes(file.path().string());
        ASSERT_FALSE(volumes->volumes.empty());
        volumes->name = volumes->volumes.begin()->first;
        volumes->password = L"secret";
        const std::string bytes = volumes->volumes.begin()->second;
        ASSERT_EQ(reader.Open(std::make_shared<MemoryInput>(bytes), std::make_shared<RecordedVolumes>(volumes, recorder)), 0);
    }

    static std::vector<std::uint32_t> All(const Reader& reader) {
        std::vector<std::uint32_t> all(reader.ItemCount());
        for (std::uint32_t i = 0; i < all.size(); ++i) all[i] = i;
        return all;
    }
};

TEST_F(ReaderExtraction, EveryCallbackComesFromTheCallersThreadInOrder) {
    const std::string large = LargeContent();
    Write("src/large.txt", large);
    Write("src/small.txt", "small");
    for (const char* options : {"-m1 -v3m -psecret", "-m1 -s -v3m -hpsecret"}) {
        SCOPED_TRACE(options);
        for (const auto& file : std::filesystem::directory_iterator(root_))
            if (file.is_regular_file()) std::filesystem::remove(file.path());
        Make("set.rar", options);

        ThreadRecorder recorder;
        Reader reader;
        Open(reader, L"set.", recorder);
        RecordedExtraction extraction(recorder);
        extraction.inner.password = L"secret";
        ASSERT_EQ(reader.Extract(All(reader), std::shared_ptr<IExtractCallback>(&extraction, [](IExtractCallback*) {})), 0);

        EXPECT_EQ(recorder.Threads(), std::set<std::thread::id>{std::this_thread::get_id()});
        std::map<std::wstring, std::string> extracted;
        for (const auto& [index, output] : extraction.inner.outputs) extracted[reader.FirstEntry(index).name] = output->data;
        EXPECT_TRUE(extracted[L"src/large.txt"] == large) << "a file over several volumes and the read-ahead limit arrives whole";
        EXPECT_EQ(extracted[L"src/small.txt"], "small");
        EXPECT_LE(extraction.passwordRequests, 1);
        EXPECT_EQ(extraction.inner.prepared, static_cast<int>(extraction.inner.results.size())) << "one result per item begun";
        EXPECT_EQ(extraction.inner.completed, extraction.inner.total);
    }
}

TEST_F(ReaderExtraction, ACancelStopsTheDecodingWhereverItIs) {
    Write("src/large.txt", LargeContent());
    Write("src/after.txt", "after");
    Make("large.rar", "-m1");
    for (const std::uint64_t cancelAfter : {1ull, 20ull << 20}) {
        SCOPED_TRACE(cancelAfter);
        ThreadRecorder recorder;
        Reader reader;
        Open(reader, L"large.", recorder);
        RecordedExtraction extraction(recorder, cancelAfter);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(reader.Extract(All(reader), std::shared_ptr<IExtractCallback>(&extraction, [](IExtractCallback*) {})), kAbort);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
        EXPECT_EQ(extraction.inner.prepared, static_cast<int>(extraction.inner.results.size()) + 1) << "the cancelled item gets no result";

        // The reader is left usable: the same archive extracts whole afterwards.
        RecordedExtraction again(recorder);
        EXPECT_EQ(reader.Extract(All(reader), std::shared_ptr<IExtractCallback>(&again, [](IExtractCallback*) {})), 0);
        EXPECT_EQ(again.inner.results, std::vector<std::int32_t>(reader.ItemCount(), kResultOk));
    }
}

}  // namespace
}  // namespace UnRAR::Testing
