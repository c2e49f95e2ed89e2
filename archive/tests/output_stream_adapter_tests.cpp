// The engine's output stream over platform streams: buffering, the write-behind overlap, seeks
// and size changes after flushing, and platform failures that must never pass for success.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

#include "archive/OutputStreamAdapter.h"
#include "engine/InputStreamAdapter.h"
#include "zorvik/runtime/streams.h"

namespace Zorvik::Impl::Testing {
namespace {

using ABI::Windows::Foundation::IAsyncOperation;
using ABI::Windows::Storage::FileAccessMode;
using ABI::Windows::Storage::FileCreationDisposition;
using ABI::Windows::Storage::Streams::IBuffer;
using ABI::Windows::Storage::Streams::IInputStream;
using ABI::Windows::Storage::Streams::InputStreamOptions;
using ABI::Windows::Storage::Streams::IOutputStream;
using ABI::Windows::Storage::Streams::IRandomAccessStream;
using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;
using zorvik::rt::make;

constexpr std::uint32_t kBuffer = OutputStreamAdapter::kBufferSize;
constexpr HRESULT kDiskFull = HRESULT_FROM_WIN32(ERROR_DISK_FULL);

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + (i >> 13));
    return bytes;
}

std::string Contents(IRandomAccessStream* stream) {
    std::uint64_t size = 0;
    check_hresult(stream->get_Size(&size));
    com_ptr<IInputStream> input;
    check_hresult(stream->GetInputStreamAt(0, input.put()));
    auto buffer = zorvik::rt::create_buffer(static_cast<std::uint32_t>(size));
    com_ptr<IAsyncOperation<IBuffer*>> read;
    check_hresult(input->ReadAsync(buffer.get(), static_cast<std::uint32_t>(size), InputStreamOptions::None, read.put()));
    zorvik::rt::get(read);
    return {reinterpret_cast<const char*>(zorvik::rt::buffer_data(buffer.get())), zorvik::rt::buffer_length(buffer.get())};
}

// Writes everything as the engine does, in calls of the given sizes (repeated as needed).
void WriteInPieces(OutputStreamAdapter* adapter, const std::string& bytes, const std::vector<std::size_t>& pieces) {
    std::size_t offset = 0;
    for (std::size_t call = 0; offset < bytes.size(); ++call) {
        const auto size = static_cast<std::uint32_t>(std::min(pieces[call % pieces.size()], bytes.size() - offset));
        std::uint32_t processed = 0;
        ASSERT_EQ(adapter->Write(bytes.data() + offset, size, &processed), S_OK);
        ASSERT_TRUE(processed > 0 || size == 0);
        offset += processed;
    }
}

// Passes everything to a real stream and records what reaches it. Writes can be held back
// until released, made to fail, or made to fall short; flushes can be made to fail.
class PlatformStream final : public zorvik::rt::implements<PlatformStream, IRandomAccessStream, IOutputStream> {
public:
    explicit PlatformStream(com_ptr<IRandomAccessStream> inner = zorvik::rt::make_in_memory_stream()) : inner_(std::move(inner)) {}

    HRESULT get_Size(std::uint64_t* size) override { return inner_->get_Size(size); }
    HRESULT put_Size(std::uint64_t size) override {
        Record("size " + std::to_string(size));
        return inner_->put_Size(size);
    }
    HRESULT GetInputStreamAt(std::uint64_t position, IInputStream** stream) override { return inner_->GetInputStreamAt(position, stream); }
    HRESULT GetOutputStreamAt(std::uint64_t position, IOutputStream** stream) override {
        return inner_->GetOutputStreamAt(position, stream);
    }
    HRESULT get_Position(std::uint64_t* position) override { return inner_->get_Position(position); }
    HRESULT Seek(std::uint64_t position) override {
        Record("seek " + std::to_string(position));
        return inner_->Seek(position);
    }
    HRESULT CloneStream(IRandomAccessStream** stream) override { return inner_->CloneStream(stream); }
    HRESULT get_CanRead(bool* value) override { return inner_->get_CanRead(value); }
    HRESULT get_CanWrite(bool* value) override { return inner_->get_CanWrite(value); }

    HRESULT WriteAsync(IBuffer* buffer, IAsyncOperation<std::uint32_t>** operation) override {
        Record("write " + std::to_string(zorvik::rt::buffer_length(buffer)));
        {
            std::lock_guard lock(mutex_);
            maxInFlight_ = std::max(maxInFlight_, ++inFlight_);
        }
        auto self = com_ptr<PlatformStream>::copy_from(this);
        auto chunk = com_ptr<IBuffer>::copy_from(buffer);
        lastWrite_ = zorvik::rt::run_async<std::uint32_t>([self, chunk] { return self->Forward(chunk.get()); });
        *operation = com_ptr(lastWrite_).detach();
        return S_OK;
    }
    HRESULT FlushAsync(IAsyncOperation<bool>** operation) override {
        Record("flush");
        const HRESULT failure = flushFailure;
        *operation = zorvik::rt::run_async<bool>([failure] {
                         check_hresult(failure);
                         return true;
                     }).detach();
        return S_OK;
    }

    // The events so far, one per line; a seek or size change notes any write still running.
    std::string Log() {
        std::lock_guard lock(mutex_);
        return log_.str();
    }
    int MaxInFlight() {
        std::lock_guard lock(mutex_);
        return maxInFlight_;
    }
    void HoldWrites() { open_ = false; }
    void ReleaseWrites() {
        std::lock_guard lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }
    void WaitForLastWrite() { zorvik::rt::wait(lastWrite_.get()); }

    HRESULT writeFailure = S_OK;
    HRESULT flushFailure = S_OK;
    std::uint32_t shortBy = 0;
    std::chrono::milliseconds writeDelay{0};

private:
    void Record(const std::string& event) {
        std::lock_guard lock(mutex_);
        log_ << event << (inFlight_ > 0 && event[0] != 'w' ? " while writing" : "") << '\n';
    }
    std::uint32_t Forward(IBuffer* chunk) {
        {
            std::unique_lock lock(mutex_);
            opened_.wait(lock, [&] { return open_; });
        }
        struct Done {
            PlatformStream* self;
            ~Done() {
                std::lock_guard lock(self->mutex_);
                --self->inFlight_;
            }
        } done{this};
        std::this_thread::sleep_for(writeDelay);
        check_hresult(writeFailure);
        com_ptr<IAsyncOperation<std::uint32_t>> write;
        check_hresult(inner_.as<IOutputStream>()->WriteAsync(chunk, write.put()));
        return zorvik::rt::get(write) - shortBy;
    }

    com_ptr<IRandomAccessStream> inner_;
    com_ptr<IAsyncOperation<std::uint32_t>> lastWrite_;
    std::mutex mutex_;
    std::condition_variable opened_;
    std::ostringstream log_;
    int inFlight_ = 0;
    int maxInFlight_ = 0;
    bool open_ = true;
};

TEST(OutputStreamAdapter, AnswersOnlyTheEngineStreamInterfaces) {
    auto adapter = make<OutputStreamAdapter>(zorvik::rt::make_in_memory_stream());
    for (const GUID& iid : {IUnknown::iid, Engine::ISequentialOutStream::iid, Engine::IOutStream::iid}) {
        com_ptr<IUnknown> answered;
        EXPECT_EQ(adapter->QueryInterface(iid, answered.put_void()), S_OK);
    }
    com_ptr<IUnknown> inspectable;
    EXPECT_EQ(adapter->QueryInterface(IInspectable::iid, inspectable.put_void()), E_NOINTERFACE);
}

TEST(OutputStreamAdapter, RoundTripsUnevenWritesIntoMemoryAndFileStreams) {
    const std::string data = Pattern((20 << 20) + 12345);
    const std::vector<std::size_t> pieces{1, 4095, 0, 65539, (3 << 20) + 1, 9 << 20, 777};

    auto memory = zorvik::rt::make_in_memory_stream();
    auto adapter = make<OutputStreamAdapter>(memory);
    WriteInPieces(adapter.get(), data, pieces);
    EXPECT_EQ(adapter->Finish(), S_OK);
    EXPECT_EQ(Contents(memory.get()), data);

    // Without Finish the final release delivers the tail.
    std::string folder = (std::filesystem::temp_directory_path() / "zorvik-output-XXXXXX").string();
    ASSERT_NE(mkdtemp(folder.data()), nullptr);
    const auto path = std::filesystem::path(folder) / "out.bin";
    auto file = zorvik::rt::open_file_stream(path.wstring(), FileAccessMode::ReadWrite, FileCreationDisposition::CreateAlways);
    adapter = make<OutputStreamAdapter>(file);
    WriteInPieces(adapter.get(), data, pieces);
    adapter = nullptr;
    std::ostringstream written;
    written << std::ifstream(path, std::ios::binary).rdbuf();
    EXPECT_EQ(written.str(), data);
    std::filesystem::remove_all(folder);
}

TEST(OutputStreamAdapter, SeeksAndSizeChangesComeAfterTheEarlierDataHasLanded) {
    auto platform = make<PlatformStream>();
    platform->writeDelay = std::chrono::milliseconds(20);  // time enough to overtake a write not waited for
    auto adapter = make<OutputStreamAdapter>(platform);
    const std::string data = Pattern(100);
    std::uint32_t processed = 0;
    std::uint64_t position = 0;
    ASSERT_EQ(adapter->Write(data.data(), 100, &processed), S_OK);
    ASSERT_EQ(adapter->Seek(-90, 1, &position), S_OK);
    EXPECT_EQ(position, 10u);
    ASSERT_EQ(adapter->Write("abc", 3, &processed), S_OK);
    ASSERT_EQ(adapter->Seek(-1, 2, &position), S_OK);
    EXPECT_EQ(position, 99u);
    ASSERT_EQ(adapter->Write("z", 1, &processed), S_OK);
    ASSERT_EQ(adapter->SetSize(50), S_OK);
    EXPECT_EQ(platform->Log(), "write 100\nflush\nseek 10\nwrite 3\nflush\nseek 99\nwrite 1\nflush\nsize 50\n");
    EXPECT_EQ(Contents(platform.get()), data.substr(0, 10) + "abc" + data.substr(13, 37));

    // An unknown origin is refused only after the data went out; a seek before the start
    // is refused without harming the stream.
    ASSERT_EQ(adapter->Write("tail", 4, &processed), S_OK);
    EXPECT_EQ(adapter->Seek(0, 3, &position), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(adapter->Seek(-1000, 1, &position), E_NEGATIVE_SEEK);
    EXPECT_TRUE(platform->Log().ends_with("size 50\nwrite 4\nflush\n"));
    EXPECT_EQ(adapter->Finish(), S_OK);
    EXPECT_EQ(Contents(platform.get()), data.substr(0, 10) + "abc" + data.substr(13, 37) + "tail");
}

TEST(OutputStreamAdapter, PlatformFailuresAreReportedNeverSwallowed) {
    const std::string data = Pattern(kBuffer);
    std::uint32_t processed = 1;

    // A failed tail write surfaces at Finish, and keeps failing.
    auto platform = make<PlatformStream>();
    platform->writeFailure = kDiskFull;
    auto adapter = make<OutputStreamAdapter>(platform);
    ASSERT_EQ(adapter->Write(data.data(), 1000, &processed), S_OK);
    EXPECT_EQ(adapter->Finish(), kDiskFull);
    EXPECT_EQ(adapter->Write(data.data(), 10, &processed), kDiskFull);
    EXPECT_EQ(processed, 0u);
    EXPECT_EQ(adapter->Finish(), kDiskFull);

    // A failed write of a full buffer stops the very next engine call, whatever it is.
    for (int call = 0; call < 3; ++call) {
        platform = make<PlatformStream>();
        platform->writeFailure = kDiskFull;
        adapter = make<OutputStreamAdapter>(platform);
        ASSERT_EQ(adapter->Write(data.data(), kBuffer, &processed), S_OK);
        platform->WaitForLastWrite();
        std::uint64_t position = 0;
        const HRESULT hr = call == 0   ? adapter->Write(data.data(), 1, &processed)
                           : call == 1 ? adapter->Seek(0, 0, &position)
                                       : adapter->SetSize(0);
        EXPECT_EQ(hr, kDiskFull) << "call " << call;
        if (call == 0) {
            EXPECT_EQ(processed, 0u);
        }
        EXPECT_EQ(adapter->Finish(), kDiskFull);
    }

    // So do a failed stream flush and a write that takes less than it was given.
    platform = make<PlatformStream>();
    platform->flushFailure = kDiskFull;
    adapter = make<OutputStreamAdapter>(platform);
    ASSERT_EQ(adapter->Write(data.data(), 10, &processed), S_OK);
    EXPECT_EQ(adapter->Seek(0, 0, nullptr), kDiskFull);
    EXPECT_EQ(adapter->Write(data.data(), 10, &processed), kDiskFull);

    platform = make<PlatformStream>();
    platform->shortBy = 1;
    adapter = make<OutputStreamAdapter>(platform);
    ASSERT_EQ(adapter->Write(data.data(), 10, &processed), S_OK);
    EXPECT_TRUE(FAILED(adapter->Finish()));
}

TEST(OutputStreamAdapter, FillsTheNextBufferWhileOnePlatformWriteIsPending) {
    auto platform = make<PlatformStream>();
    platform->HoldWrites();
    auto adapter = make<OutputStreamAdapter>(platform);
    const std::string data = Pattern(2 * kBuffer + 5);
    const std::string full = "write " + std::to_string(kBuffer) + "\n";
    std::uint32_t processed = 0;
    // Taken up to the buffer's end, which goes to the platform whole, in one write.
    ASSERT_EQ(adapter->Write(data.data(), kBuffer + kBuffer / 4, &processed), S_OK);
    EXPECT_EQ(processed, kBuffer);
    ASSERT_EQ(adapter->Write(data.data() + kBuffer, kBuffer - 1, &processed), S_OK);
    EXPECT_EQ(processed, kBuffer - 1);
    EXPECT_EQ(platform->Log(), full) << "a buffer not yet full is kept";

    // The byte that fills the second buffer waits for the first write.
    auto filling = std::async(std::launch::async, [&] { return adapter->Write(data.data() + 2 * kBuffer - 1, 6, &processed); });
    EXPECT_EQ(filling.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    platform->ReleaseWrites();
    ASSERT_EQ(filling.get(), S_OK);
    EXPECT_EQ(processed, 1u);
    ASSERT_EQ(adapter->Write(data.data() + 2 * kBuffer, 5, &processed), S_OK);
    EXPECT_EQ(adapter->Finish(), S_OK);
    EXPECT_EQ(platform->MaxInFlight(), 1);
    EXPECT_EQ(platform->Log(), full + full + "write 5\n") << "the tail goes at the end, in one write";
    EXPECT_EQ(Contents(platform.get()), data);
}

}  // namespace
}  // namespace Zorvik::Impl::Testing
