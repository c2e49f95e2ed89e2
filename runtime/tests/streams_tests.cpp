#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>

#include "zorvik/runtime/streams.h"

using namespace zorvik::rt;
using namespace ABI::Windows::Storage::Streams;
using ABI::Windows::Foundation::AsyncStatus;
using ABI::Windows::Foundation::IAsyncInfo;
using ABI::Windows::Foundation::IAsyncOperation;
using ABI::Windows::Foundation::IClosable;
using ABI::Windows::Storage::FileAccessMode;
using ABI::Windows::Storage::FileCreationDisposition;

namespace {

using bytes = std::vector<std::uint8_t>;

bytes pattern(std::size_t size, std::uint8_t seed = 1) {
    bytes result(size);
    for (std::size_t i = 0; i < size; ++i) result[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    return result;
}

com_ptr<IBuffer> buffer_of(const bytes& content) {
    auto buffer = create_buffer(static_cast<std::uint32_t>(content.size()));
    if (!content.empty()) std::memcpy(buffer_data(buffer.get()), content.data(), content.size());
    check_hresult(buffer->put_Length(static_cast<std::uint32_t>(content.size())));
    return buffer;
}

bytes content_of(IBuffer* buffer) {
    const std::uint8_t* data = buffer_data(buffer);
    return bytes(data, data + buffer_length(buffer));
}

template <typename Stream>
bytes read(const com_ptr<Stream>& stream, std::uint32_t count, std::uint32_t capacity) {
    com_ptr<IAsyncOperation<IBuffer*>> operation;
    check_hresult(
        stream.template as<IInputStream>()->ReadAsync(create_buffer(capacity).get(), count, InputStreamOptions::None, operation.put()));
    return content_of(get(operation).get());
}
template <typename Stream>
bytes read(const com_ptr<Stream>& stream, std::uint32_t count) {
    return read(stream, count, count);
}

template <typename Stream>
com_ptr<IAsyncOperation<std::uint32_t>> start_write(const com_ptr<Stream>& stream, const bytes& content) {
    com_ptr<IAsyncOperation<std::uint32_t>> operation;
    check_hresult(stream.template as<IOutputStream>()->WriteAsync(buffer_of(content).get(), operation.put()));
    return operation;
}
template <typename Stream>
std::uint32_t write(const com_ptr<Stream>& stream, const bytes& content) {
    return get(start_write(stream, content));
}

bool flush(const com_ptr<IRandomAccessStream>& stream) {
    com_ptr<IAsyncOperation<bool>> operation;
    check_hresult(stream.as<IOutputStream>()->FlushAsync(operation.put()));
    return get(operation);
}

std::uint64_t size_of(const com_ptr<IRandomAccessStream>& stream) {
    std::uint64_t size = 0;
    check_hresult(stream->get_Size(&size));
    return size;
}

std::uint64_t position_of(const com_ptr<IRandomAccessStream>& stream) {
    std::uint64_t position = 0;
    check_hresult(stream->get_Position(&position));
    return position;
}

bytes read_all(const com_ptr<IRandomAccessStream>& stream) {
    check_hresult(stream->Seek(0));
    return read(stream, static_cast<std::uint32_t>(size_of(stream)));
}

// Waits for every operation, failing the test instead of hanging past the deadline.
template <typename T>
bool all_finish_within(const std::vector<com_ptr<IAsyncOperation<T>>>& operations, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (const auto& operation : operations) {
        for (;;) {
            AsyncStatus status{};
            check_hresult(operation.template as<IAsyncInfo>()->get_Status(&status));
            if (status != AsyncStatus::Started) break;
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return true;
}

// A fresh folder for the test's files, removed afterwards.
class scratch_folder {
public:
    scratch_folder() {
        char name[] = "/tmp/zorvik-streams-XXXXXX";
        if (!mkdtemp(name)) throw std::runtime_error("mkdtemp failed");
        path_ = name;
    }
    ~scratch_folder() { std::filesystem::remove_all(path_); }
    std::wstring file(std::wstring_view name) const { return to_wide(path_) + L"/" + std::wstring(name); }

private:
    std::string path_;
};

// The behaviours every random-access stream shares run against each kind.
struct memory_streams {
    static constexpr const char* label = "InMemory";
    com_ptr<IRandomAccessStream> create() { return make_in_memory_stream(); }
};

struct file_streams {
    static constexpr const char* label = "File";
    com_ptr<IRandomAccessStream> create() {
        return open_file_stream(folder.file(L"stream" + std::to_wstring(++created)), FileAccessMode::ReadWrite,
                                FileCreationDisposition::CreateNew);
    }
    scratch_folder folder;
    int created = 0;
};

template <typename Kind>
class RandomAccessStream : public ::testing::Test {
protected:
    com_ptr<IRandomAccessStream> create() { return kind_.create(); }

private:
    Kind kind_;
};

struct kind_names {
    template <typename Kind>
    static std::string GetName(int) {
        return Kind::label;
    }
};
using stream_kinds = ::testing::Types<memory_streams, file_streams>;
TYPED_TEST_SUITE(RandomAccessStream, stream_kinds, kind_names);

TYPED_TEST(RandomAccessStream, ReadsUpToTheEndAndNoFurther) {
    com_ptr<IRandomAccessStream> stream = this->create();
    const bytes data = pattern(100000);
    ASSERT_EQ(write(stream, data), data.size());

    ASSERT_EQ(stream->Seek(data.size() - 10), S_OK);
    EXPECT_EQ(read(stream, 65536), bytes(data.end() - 10, data.end())) << "a 64 KiB read 10 bytes before the end";
    EXPECT_EQ(position_of(stream), data.size());
    EXPECT_TRUE(read(stream, 65536).empty()) << "a read at the end";

    ASSERT_EQ(stream->Seek(0), S_OK);
    EXPECT_EQ(read(stream, 1000, 4), bytes(data.begin(), data.begin() + 4)) << "count beyond the buffer's capacity";
    EXPECT_EQ(position_of(stream), 4u);

    ASSERT_EQ(stream->Seek(data.size() + 500), S_OK);
    EXPECT_TRUE(read(stream, 100).empty()) << "a read beyond the end";
    EXPECT_EQ(position_of(stream), data.size() + 500);
}

TYPED_TEST(RandomAccessStream, SeekAndSizeReshapeTheData) {
    com_ptr<IRandomAccessStream> stream = this->create();
    EXPECT_EQ(size_of(stream), 0u);
    EXPECT_EQ(position_of(stream), 0u);

    // Writing beyond the end extends the data and zero-fills the gap.
    ASSERT_EQ(stream->Seek(100), S_OK);
    EXPECT_EQ(size_of(stream), 0u) << "seeking alone does not grow the data";
    ASSERT_EQ(write(stream, {7, 8, 9}), 3u);
    EXPECT_EQ(size_of(stream), 103u);
    EXPECT_EQ(position_of(stream), 103u);
    bytes expected(100, 0);
    expected.insert(expected.end(), {7, 8, 9});
    EXPECT_EQ(read_all(stream), expected);

    // A smaller size truncates and pulls the position back; a larger one zero-fills.
    ASSERT_EQ(stream->put_Size(50), S_OK);
    EXPECT_EQ(size_of(stream), 50u);
    EXPECT_EQ(position_of(stream), 50u);
    ASSERT_EQ(stream->put_Size(102), S_OK);
    EXPECT_EQ(position_of(stream), 50u);
    EXPECT_EQ(read_all(stream), bytes(102, 0));

    // Overwriting in the middle keeps what follows.
    ASSERT_EQ(stream->Seek(1), S_OK);
    ASSERT_EQ(write(stream, {1, 2}), 2u);
    EXPECT_EQ(size_of(stream), 102u);
    EXPECT_EQ(read_all(stream).at(3), 0u);
    EXPECT_EQ(read_all(stream).at(2), 2u);
}

TYPED_TEST(RandomAccessStream, WritesFlushAndReadBack) {
    com_ptr<IRandomAccessStream> stream = this->create();
    bool can_read = false, can_write = false;
    ASSERT_EQ(stream->get_CanRead(&can_read), S_OK);
    ASSERT_EQ(stream->get_CanWrite(&can_write), S_OK);
    EXPECT_TRUE(can_read && can_write);

    const bytes first = pattern(70000, 3), second = pattern(5, 9);
    EXPECT_EQ(write(stream, first), first.size());
    EXPECT_EQ(write(stream, {}), 0u);
    EXPECT_EQ(write(stream, second), second.size());
    EXPECT_TRUE(flush(stream));
    bytes expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(read_all(stream), expected);
}

TYPED_TEST(RandomAccessStream, ClonesAndSubstreamsHaveTheirOwnPositions) {
    com_ptr<IRandomAccessStream> stream = this->create();
    const bytes data = pattern(100);
    write(stream, data);

    com_ptr<IRandomAccessStream> clone;
    ASSERT_EQ(stream->CloneStream(clone.put()), S_OK);
    EXPECT_EQ(position_of(clone), 0u);
    EXPECT_EQ(read(clone, 10), bytes(data.begin(), data.begin() + 10));
    EXPECT_EQ(position_of(clone), 10u);
    EXPECT_EQ(position_of(stream), 100u);

    com_ptr<IInputStream> input;
    ASSERT_EQ(stream->GetInputStreamAt(50, input.put()), S_OK);
    EXPECT_EQ(read(input, 5), bytes(data.begin() + 50, data.begin() + 55));

    com_ptr<IOutputStream> output;
    ASSERT_EQ(stream->GetOutputStreamAt(10, output.put()), S_OK);
    write(output, {0xEE});
    EXPECT_EQ(read(clone, 1), bytes{0xEE}) << "a write through one stream is seen by the others";

    ASSERT_EQ(clone.as<IClosable>()->Close(), S_OK);
    EXPECT_EQ(size_of(stream), 100u) << "closing a clone leaves the original open";
}

TYPED_TEST(RandomAccessStream, ClosedStreamFailsWithRoClosed) {
    com_ptr<IRandomAccessStream> stream = this->create();
    auto pending = start_write(stream, pattern(300000));
    ASSERT_EQ(stream.as<IClosable>()->Close(), S_OK);
    EXPECT_EQ(stream.as<IClosable>()->Close(), S_OK) << "Close is idempotent";
    EXPECT_EQ(get(pending), 300000u) << "an operation issued before Close still completes";

    std::uint64_t value = 0;
    bool flag = false;
    EXPECT_EQ(stream->get_Size(&value), RO_E_CLOSED);
    EXPECT_EQ(stream->put_Size(1), RO_E_CLOSED);
    EXPECT_EQ(stream->get_Position(&value), RO_E_CLOSED);
    EXPECT_EQ(stream->Seek(0), RO_E_CLOSED);
    EXPECT_EQ(stream->get_CanRead(&flag), RO_E_CLOSED);
    EXPECT_EQ(stream->get_CanWrite(&flag), RO_E_CLOSED);
    com_ptr<IRandomAccessStream> clone;
    EXPECT_EQ(stream->CloneStream(clone.put()), RO_E_CLOSED);
    EXPECT_FALSE(clone);
    com_ptr<IInputStream> input;
    EXPECT_EQ(stream->GetInputStreamAt(0, input.put()), RO_E_CLOSED);
    com_ptr<IOutputStream> output;
    EXPECT_EQ(stream->GetOutputStreamAt(0, output.put()), RO_E_CLOSED);
    com_ptr<IAsyncOperation<IBuffer*>> reading;
    EXPECT_EQ(stream.as<IInputStream>()->ReadAsync(create_buffer(8).get(), 8, InputStreamOptions::None, reading.put()), RO_E_CLOSED);
    EXPECT_FALSE(reading);
    com_ptr<IAsyncOperation<std::uint32_t>> writing;
    EXPECT_EQ(stream.as<IOutputStream>()->WriteAsync(buffer_of({1}).get(), writing.put()), RO_E_CLOSED);
    com_ptr<IAsyncOperation<bool>> flushing;
    EXPECT_EQ(stream.as<IOutputStream>()->FlushAsync(flushing.put()), RO_E_CLOSED);
    EXPECT_THROW(read(stream, 1), object_disposed_error);
}

TYPED_TEST(RandomAccessStream, OperationsApplyInTheOrderIssued) {
    com_ptr<IRandomAccessStream> stream = this->create();
    // Chunks issued back to back without waiting land one after another: small ones, which may
    // run on the caller's thread, never overtake a large one still queued.
    std::vector<com_ptr<IAsyncOperation<std::uint32_t>>> writes;
    bytes expected = pattern(0x100000);
    writes.push_back(start_write(stream, expected));
    for (std::uint8_t i = 0; i < 64; ++i) {
        const bytes chunk(4096 + i, i);
        writes.push_back(start_write(stream, chunk));
        expected.insert(expected.end(), chunk.begin(), chunk.end());
    }
    // A large write and a later small one over the same start: the later one wins.
    com_ptr<IOutputStream> first, second;
    ASSERT_EQ(stream->GetOutputStreamAt(0, first.put()), S_OK);
    ASSERT_EQ(stream->GetOutputStreamAt(0, second.put()), S_OK);
    writes.push_back(start_write(first, bytes(8192, 0xAA)));
    writes.push_back(start_write(second, bytes(4, 0xBB)));
    // Position is reported once every write issued before has landed.
    EXPECT_EQ(position_of(stream), expected.size());
    // A seek takes its turn among pending writes.
    writes.push_back(start_write(stream, {0x11}));
    ASSERT_EQ(stream->Seek(2), S_OK);
    writes.push_back(start_write(stream, {0xCC}));
    EXPECT_EQ(position_of(stream), 3u);
    ASSERT_TRUE(all_finish_within(writes, std::chrono::seconds(60)));

    expected.push_back(0x11);
    std::fill(expected.begin(), expected.begin() + 8192, 0xAA);
    std::fill(expected.begin(), expected.begin() + 4, 0xBB);
    expected[2] = 0xCC;
    EXPECT_EQ(read_all(stream), expected);
}

TYPED_TEST(RandomAccessStream, ManyOperationsWaitingInsideTheirWorkAllFinish) {
    constexpr int kOperations = 64;
    std::vector<com_ptr<IRandomAccessStream>> streams;
    for (int i = 0; i < kOperations; ++i) streams.push_back(this->create());

    std::vector<com_ptr<IAsyncOperation<bool>>> operations;
    for (int i = 0; i < kOperations; ++i)
        operations.push_back(run_async<bool>([stream = streams[i], i] {
            const bytes chunk = pattern(16384, static_cast<std::uint8_t>(i));
            for (int k = 0; k < 8; ++k)
                if (write(stream, chunk) != chunk.size()) return false;
            if (!flush(stream)) return false;
            check_hresult(stream->Seek(0));
            for (int k = 0; k < 8; ++k)
                if (read(stream, 16384) != chunk) return false;
            return read(stream, 16384).empty();
        }));
    ASSERT_TRUE(all_finish_within(operations, std::chrono::seconds(60))) << "starved or deadlocked";
    for (int i = 0; i < kOperations; ++i) EXPECT_TRUE(get(operations[i])) << "operation " << i;
}

TEST(FileStream, ReopensWhatWasWrittenAndHonoursTheAccessMode) {
    scratch_folder folder;
    const std::wstring path = folder.file(L"data.bin");
    const bytes data = pattern(1000);
    {
        auto stream = open_file_stream(path, FileAccessMode::ReadWrite, FileCreationDisposition::CreateNew);
        write(stream, data);
        EXPECT_TRUE(flush(stream));
    }
    auto reader = open_file_stream(path, FileAccessMode::Read);
    EXPECT_EQ(read_all(reader), data);
    bool can_write = true;
    ASSERT_EQ(reader->get_CanWrite(&can_write), S_OK);
    EXPECT_FALSE(can_write);
    com_ptr<IAsyncOperation<std::uint32_t>> writing;
    EXPECT_EQ(reader.as<IOutputStream>()->WriteAsync(buffer_of({1}).get(), writing.put()), E_ACCESSDENIED);
    EXPECT_EQ(reader->put_Size(0), E_ACCESSDENIED);
    com_ptr<IOutputStream> output;
    EXPECT_EQ(reader->GetOutputStreamAt(0, output.put()), E_ACCESSDENIED);

    hstring name;
    ASSERT_EQ(reader->GetRuntimeClassName(name.put()), S_OK);
    EXPECT_EQ(name, L"Windows.Storage.Streams.FileRandomAccessStream");

    auto truncated = open_file_stream(path, FileAccessMode::ReadWrite, FileCreationDisposition::CreateAlways);
    EXPECT_EQ(size_of(truncated), 0u);
}

TEST(FileStream, OpeningFailsWithThePlatformErrors) {
    scratch_folder folder;
    com_ptr<IRandomAccessStream> stream;
    const auto open = [&](const std::wstring& path, FileAccessMode mode, FileCreationDisposition disposition) {
        return CreateRandomAccessStreamOnFileEx(path.c_str(), mode, disposition, IRandomAccessStream::iid, stream.put_void());
    };
    EXPECT_EQ(
        CreateRandomAccessStreamOnFile(folder.file(L"missing").c_str(), FileAccessMode::Read, IRandomAccessStream::iid, stream.put_void()),
        HRESULT_FROM_WIN32(2));
    EXPECT_FALSE(stream);
    ASSERT_EQ(open(folder.file(L"once"), FileAccessMode::ReadWrite, FileCreationDisposition::CreateNew), S_OK);
    EXPECT_EQ(open(folder.file(L"once"), FileAccessMode::ReadWrite, FileCreationDisposition::CreateNew), HRESULT_FROM_WIN32(183));
    EXPECT_EQ(open(folder.file(L"other"), FileAccessMode::Read, FileCreationDisposition::CreateAlways), E_INVALIDARG);
    EXPECT_EQ(open(folder.file(L""), FileAccessMode::Read, FileCreationDisposition::OpenExisting), E_ACCESSDENIED) << "a folder";
    EXPECT_EQ(CreateRandomAccessStreamOnFile(nullptr, FileAccessMode::Read, IRandomAccessStream::iid, stream.put_void()), E_POINTER);
}

TEST(FileStream, OverADescriptorWorksOnItsOwnCopyAndChecksWhatItIsGiven) {
    scratch_folder folder;
    const std::string path = to_utf8(folder.file(L"made.bin"));
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    const bytes data = pattern(3000);
    {
        auto stream = open_file_stream_on(fd, FileAccessMode::ReadWrite);
        write(stream, data);
        EXPECT_TRUE(flush(stream));
        EXPECT_EQ(read_all(stream), data);
    }
    struct stat info {};
    ASSERT_EQ(::fstat(fd, &info), 0) << "the caller's descriptor stays open";
    EXPECT_EQ(info.st_size, 3000);

    com_ptr<IRandomAccessStream> stream;
    const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(CreateRandomAccessStreamOnFileDescriptor(reader, FileAccessMode::ReadWrite, IRandomAccessStream::iid, stream.put_void()),
              E_ACCESSDENIED);
    EXPECT_EQ(read_all(open_file_stream_on(reader, FileAccessMode::Read)), data);
    const int directory = ::open(to_utf8(folder.file(L"")).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_EQ(CreateRandomAccessStreamOnFileDescriptor(directory, FileAccessMode::Read, IRandomAccessStream::iid, stream.put_void()),
              E_ACCESSDENIED);
    ::close(directory);
    ::close(reader);
    ::close(fd);
    EXPECT_EQ(CreateRandomAccessStreamOnFileDescriptor(fd, FileAccessMode::Read, IRandomAccessStream::iid, stream.put_void()), E_HANDLE)
        << "a closed descriptor";
    EXPECT_FALSE(stream);
}

TEST(Buffer, KeepsItsCapacityAndLengthWithinIt) {
    auto buffer = create_buffer(16);
    EXPECT_EQ(buffer_capacity(buffer.get()), 16u);
    EXPECT_EQ(buffer_length(buffer.get()), 0u);
    EXPECT_EQ(buffer->put_Length(16), S_OK);
    EXPECT_EQ(buffer->put_Length(17), E_INVALIDARG);
    EXPECT_EQ(buffer_length(buffer.get()), 16u);
    EXPECT_NE(buffer_data(create_buffer(0).get()), nullptr);
}

TEST(DataWriter, GathersBytesAndDetachesThem) {
    auto writer = make_data_writer();
    ASSERT_EQ(writer->WriteByte(1), S_OK);
    const std::uint8_t some[] = {2, 3, 4};
    ASSERT_EQ(writer->WriteBytes(3, some), S_OK);
    ASSERT_EQ(writer->WriteBuffer(buffer_of({5, 6}).get()), S_OK);
    ASSERT_EQ(writer->WriteBytes(0, nullptr), S_OK);
    std::uint32_t unstored = 0;
    ASSERT_EQ(writer->get_UnstoredBufferLength(&unstored), S_OK);
    EXPECT_EQ(unstored, 6u);

    com_ptr<IBuffer> detached;
    ASSERT_EQ(writer->DetachBuffer(detached.put()), S_OK);
    EXPECT_EQ(content_of(detached.get()), (bytes{1, 2, 3, 4, 5, 6}));
    ASSERT_EQ(writer->get_UnstoredBufferLength(&unstored), S_OK);
    EXPECT_EQ(unstored, 0u) << "detaching starts a fresh buffer";
    ASSERT_EQ(writer->WriteByte(9), S_OK);
    com_ptr<IBuffer> next;
    ASSERT_EQ(writer->DetachBuffer(next.put()), S_OK);
    EXPECT_EQ(content_of(next.get()), bytes{9});
    EXPECT_EQ(content_of(detached.get()), (bytes{1, 2, 3, 4, 5, 6})) << "the first buffer is left alone";
    ASSERT_EQ(writer->DetachBuffer(next.put()), S_OK);
    EXPECT_EQ(buffer_length(next.get()), 0u);
}

TEST(DataWriter, GathersMegabytesInSmallChunks) {
    auto writer = make_data_writer();
    const bytes chunk = pattern(4096, 5);
    constexpr int kChunks = 2048;  // 8 MiB
    for (int i = 0; i < kChunks; ++i) ASSERT_EQ(writer->WriteBytes(4096, chunk.data()), S_OK);
    com_ptr<IBuffer> detached;
    ASSERT_EQ(writer->DetachBuffer(detached.put()), S_OK);
    ASSERT_EQ(buffer_length(detached.get()), 4096u * kChunks);
    const std::uint8_t* data = buffer_data(detached.get());
    for (int i = 0; i < kChunks; i += 511) EXPECT_EQ(bytes(data + 4096 * i, data + 4096 * (i + 1)), chunk) << "chunk " << i;
}

TEST(DataWriter, HasNoStreamToStoreTo) {
    auto writer = make_data_writer();
    com_ptr<IAsyncOperation<std::uint32_t>> storing;
    EXPECT_EQ(writer->StoreAsync(storing.put()), E_ILLEGAL_METHOD_CALL);
    com_ptr<IAsyncOperation<bool>> flushing;
    EXPECT_EQ(writer->FlushAsync(flushing.put()), E_ILLEGAL_METHOD_CALL);
    com_ptr<IOutputStream> stream;
    EXPECT_EQ(writer->DetachStream(stream.put()), E_ILLEGAL_METHOD_CALL);
    EXPECT_EQ(writer->WriteBytes(1, nullptr), E_POINTER);
    ASSERT_EQ(writer.as<IClosable>()->Close(), S_OK);
    EXPECT_EQ(writer->WriteByte(1), RO_E_CLOSED);
}

TEST(Activation, CreatesPlatformClassesByName) {
    hstring name;
    ASSERT_EQ(make_data_writer()->GetRuntimeClassName(name.put()), S_OK);
    EXPECT_EQ(name, L"Windows.Storage.Streams.DataWriter");
    ASSERT_EQ(make_in_memory_stream()->GetRuntimeClassName(name.put()), S_OK);
    EXPECT_EQ(name, L"Windows.Storage.Streams.InMemoryRandomAccessStream");

    com_ptr<IInspectable> instance;
    EXPECT_EQ(RoActivateInstance(hstring(L"Windows.Storage.Streams.Nothing").get(), instance.put()), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(instance);
    EXPECT_EQ(RoActivateInstance(nullptr, instance.put()), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(RoActivateInstance(hstring(L"Windows.Storage.Streams.DataWriter").get(), nullptr), E_POINTER);
}

}  // namespace
