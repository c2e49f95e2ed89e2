// The engine's view of an archive being opened: the input stream adapter over platform streams,
// the open callback over a caller's IArchiveSource, and both driving the real engine.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "engine/EngineModule.h"
#include "engine/InputStreamAdapter.h"
#include "engine/OpenArchiveHandler.h"
#include "engine/tests/TestStreams.h"
#include "zorvik/ArchiveSource.h"
#include "zorvik/runtime/streams.h"

namespace Zorvik::Impl::Testing {
namespace {

using ABI::Windows::Foundation::IAsyncOperation;
using ABI::Windows::Storage::Streams::IBuffer;
using ABI::Windows::Storage::Streams::IInputStream;
using ABI::Windows::Storage::Streams::InputStreamOptions;
using ABI::Windows::Storage::Streams::IOutputStream;
using ABI::Windows::Storage::Streams::IRandomAccessStream;
using zorvik::rt::com_ptr;
using zorvik::rt::make;
using zorvik::rt::prop_variant;

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + (i >> 8));
    return bytes;
}

com_ptr<IRandomAccessStream> MemoryStream(const std::string& bytes) {
    auto stream = zorvik::rt::make_in_memory_stream();
    auto buffer = zorvik::rt::create_buffer(static_cast<std::uint32_t>(bytes.size()));
    std::memcpy(zorvik::rt::buffer_data(buffer.get()), bytes.data(), bytes.size());
    zorvik::rt::check_hresult(buffer->put_Length(static_cast<std::uint32_t>(bytes.size())));
    com_ptr<IAsyncOperation<std::uint32_t>> write;
    zorvik::rt::check_hresult(stream.as<IOutputStream>()->WriteAsync(buffer.get(), write.put()));
    zorvik::rt::get(write);
    zorvik::rt::check_hresult(stream->Seek(0));
    return stream;
}

std::uint64_t PositionOf(IRandomAccessStream* stream) {
    std::uint64_t position = 0;
    zorvik::rt::check_hresult(stream->get_Position(&position));
    return position;
}

// Passes everything to a real stream, counting seeks; can be told to fail or to answer reads
// with a buffer of its own.
class ObservedStream final : public zorvik::rt::implements<ObservedStream, IRandomAccessStream, IInputStream> {
public:
    explicit ObservedStream(com_ptr<IRandomAccessStream> inner) : inner_(std::move(inner)) {}

    HRESULT get_Size(std::uint64_t* size) override { return Failing ? E_FAIL : inner_->get_Size(size); }
    HRESULT put_Size(std::uint64_t size) override { return inner_->put_Size(size); }
    HRESULT GetInputStreamAt(std::uint64_t position, IInputStream** stream) override { return inner_->GetInputStreamAt(position, stream); }
    HRESULT GetOutputStreamAt(std::uint64_t position, IOutputStream** stream) override {
        return inner_->GetOutputStreamAt(position, stream);
    }
    HRESULT get_Position(std::uint64_t* position) override { return Failing ? E_FAIL : inner_->get_Position(position); }
    HRESULT Seek(std::uint64_t position) override {
        ++Seeks;
        return Failing ? E_FAIL : inner_->Seek(position);
    }
    HRESULT CloneStream(IRandomAccessStream** stream) override { return inner_->CloneStream(stream); }
    HRESULT get_CanRead(bool* canRead) override { return inner_->get_CanRead(canRead); }
    HRESULT get_CanWrite(bool* canWrite) override { return inner_->get_CanWrite(canWrite); }

    HRESULT ReadAsync(IBuffer* buffer, std::uint32_t count, InputStreamOptions options, IAsyncOperation<IBuffer*>** operation) override {
        LastReadOptions = options;
        ++Reads;
        if (Failing) {
            // The failure arrives with the operation's completion, not with the call.
            *operation = zorvik::rt::run_async<IBuffer*>([]() -> com_ptr<IBuffer> { throw zorvik::rt::failure_error(); }).detach();
            return S_OK;
        }
        com_ptr<IBuffer> target = com_ptr<IBuffer>::copy_from(buffer);
        if (AnswerWithOwnBuffer) target = zorvik::rt::create_buffer(count);
        return inner_.as<IInputStream>()->ReadAsync(target.get(), count, options, operation);
    }

    bool Failing = false;
    bool AnswerWithOwnBuffer = false;
    int Seeks = 0;
    int Reads = 0;
    InputStreamOptions LastReadOptions = InputStreamOptions::None;

private:
    com_ptr<IRandomAccessStream> inner_;
};

// --- InputStreamAdapter ---------------------------------------------------------------------

struct AdapterOver {
    explicit AdapterOver(std::size_t size)
        : observed(make<ObservedStream>(MemoryStream(Pattern(size)))), adapter(make<InputStreamAdapter>(observed)) {}
    com_ptr<ObservedStream> observed;
    com_ptr<InputStreamAdapter> adapter;
};

TEST(InputStreamAdapterSeek, MovesFromStartCurrentAndEndSeekingOnlyWhenThePositionChanges) {
    AdapterOver stream(100);
    std::uint64_t position = 1;
    ASSERT_EQ(stream.adapter->Seek(0, 1, &position), S_OK);
    ASSERT_EQ(stream.adapter->Seek(-100, 2, &position), S_OK);
    EXPECT_EQ(position, 0u);
    EXPECT_EQ(stream.observed->Seeks, 0);
    ASSERT_EQ(stream.adapter->Seek(-4, 2, &position), S_OK);
    EXPECT_EQ(position, 96u);
    EXPECT_EQ(PositionOf(stream.observed.get()), 96u);
    ASSERT_EQ(stream.adapter->Seek(-6, 1, &position), S_OK);
    EXPECT_EQ(position, 90u);
    ASSERT_EQ(stream.adapter->Seek(90, 0, &position), S_OK);
    EXPECT_EQ(stream.observed->Seeks, 2);
    // Beyond the end is a valid position: reads there give nothing.
    ASSERT_EQ(stream.adapter->Seek(10, 2, nullptr), S_OK);
    EXPECT_EQ(PositionOf(stream.observed.get()), 110u);
}

TEST(InputStreamAdapterSeek, RejectsUnknownOriginsAndTargetsBeforeTheStart) {
    AdapterOver stream(100);
    ASSERT_EQ(stream.adapter->Seek(20, 0, nullptr), S_OK);
    std::uint64_t position = 12345;
    EXPECT_EQ(stream.adapter->Seek(0, 3, &position), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stream.adapter->Seek(-1, 0, &position), E_NEGATIVE_SEEK);
    EXPECT_EQ(stream.adapter->Seek(-21, 1, &position), E_NEGATIVE_SEEK);
    EXPECT_EQ(stream.adapter->Seek(INT64_MIN, 2, &position), E_NEGATIVE_SEEK);
    EXPECT_EQ(position, 12345u);
    EXPECT_EQ(stream.observed->Seeks, 1);
    EXPECT_EQ(PositionOf(stream.observed.get()), 20u);
}

TEST(InputStreamAdapterRead, ReadsPartiallyIntoTheEnginesMemoryUpToTheEnd) {
    const std::string content = Pattern(1000);
    AdapterOver stream(content.size());
    std::string read(1000, '\0');
    ASSERT_EQ(stream.adapter->Read(read.data(), 100, nullptr), S_OK);
    EXPECT_EQ(stream.observed->LastReadOptions, InputStreamOptions::Partial);
    // A stream may fill a buffer of its own and hand that back.
    stream.observed->AnswerWithOwnBuffer = true;
    std::uint32_t processed = 0;
    ASSERT_EQ(stream.adapter->Read(read.data() + 100, 890, &processed), S_OK);
    ASSERT_EQ(processed, 890u);
    stream.observed->AnswerWithOwnBuffer = false;
    std::vector<char> block(64 * 1024, '\0');
    ASSERT_EQ(stream.adapter->Read(block.data(), static_cast<std::uint32_t>(block.size()), &processed), S_OK);
    ASSERT_EQ(processed, 10u);
    std::memcpy(read.data() + 990, block.data(), 10);
    EXPECT_EQ(read, content);
    ASSERT_EQ(stream.adapter->Read(block.data(), 100, &processed), S_OK);
    EXPECT_EQ(processed, 0u);
}

TEST(InputStreamAdapterRead, SmallReadsAndSeeksWithinABlockReachThePlatformOnce) {
    const std::string content = Pattern(300000);
    AdapterOver stream(content.size());
    // Headers read a few bytes at a time, here and there: one block read serves them all.
    std::string small(7, '\0');
    for (std::uint64_t at : {20u, 1000u, 60000u, 1000u, 65529u}) {
        ASSERT_EQ(stream.adapter->Seek(static_cast<std::int64_t>(at), 0, nullptr), S_OK);
        std::uint32_t processed = 0;
        ASSERT_EQ(stream.adapter->Read(small.data(), 7, &processed), S_OK);
        ASSERT_EQ(processed, 7u);
        EXPECT_EQ(small, content.substr(at, 7)) << at;
    }
    EXPECT_EQ(stream.observed->Reads, 1);
    // A large read takes what the block holds and the rest straight from the platform.
    ASSERT_EQ(stream.adapter->Seek(60000, 0, nullptr), S_OK);
    std::string large(200000, '\0');
    std::uint32_t processed = 0;
    ASSERT_EQ(stream.adapter->Read(large.data(), static_cast<std::uint32_t>(large.size()), &processed), S_OK);
    ASSERT_EQ(processed, large.size());
    EXPECT_EQ(large, content.substr(60000, large.size()));
    std::uint64_t position = 0;
    ASSERT_EQ(stream.adapter->Seek(0, 1, &position), S_OK);
    EXPECT_EQ(position, 260000u);
}

TEST(InputStreamAdapterFailures, PlatformFailuresBecomeSFalseWithNothingRead) {
    AdapterOver stream(100);
    stream.observed->Failing = true;
    char block[16];
    std::uint32_t processed = 99;
    EXPECT_EQ(stream.adapter->Read(block, sizeof block, &processed), S_FALSE);
    EXPECT_EQ(processed, 0u);
    EXPECT_EQ(stream.adapter->Seek(5, 0, nullptr), S_FALSE);
    std::uint64_t size = 0;
    EXPECT_EQ(stream.adapter->GetSize(&size), S_FALSE);
    EXPECT_THROW(stream.adapter->Size(), zorvik::rt::hresult_error);
}

template <typename Interface>
bool Answers(IUnknown* object) {
    void* found = nullptr;
    const HRESULT hr = object->QueryInterface(Interface::iid, &found);
    if (found) static_cast<IUnknown*>(found)->Release();
    return hr == S_OK && found;
}

TEST(EngineFacingObjects, AnswerExactlyTheirInterfaces) {
    using namespace Engine;
    AdapterOver stream(10);
    IUnknown* adapter = static_cast<IInStream*>(stream.adapter.get());
    EXPECT_TRUE(Answers<IUnknown>(adapter));
    EXPECT_TRUE(Answers<ISequentialInStream>(adapter));
    EXPECT_TRUE(Answers<IInStream>(adapter));
    EXPECT_TRUE(Answers<IStreamGetSize>(adapter));
    EXPECT_FALSE(Answers<IInspectable>(adapter));
    EXPECT_FALSE(Answers<IOutStream>(adapter));

    auto handler = make<OpenArchiveHandler>(stream.adapter, make_archive_source(L"a.7z"));
    IUnknown* callback = static_cast<IArchiveOpenCallback*>(handler.get());
    EXPECT_TRUE(Answers<IUnknown>(callback));
    EXPECT_TRUE(Answers<IArchiveOpenCallback>(callback));
    EXPECT_TRUE(Answers<IArchiveOpenVolumeCallback>(callback));
    EXPECT_TRUE(Answers<IArchiveOpenSetSubArchiveName>(callback));
    EXPECT_TRUE(Answers<IProgress>(callback));
    EXPECT_TRUE(Answers<ICryptoGetTextPassword>(callback));
    EXPECT_FALSE(Answers<ICryptoGetTextPassword2>(callback));
    EXPECT_FALSE(Answers<IInspectable>(callback));
}

// --- OpenArchiveHandler ---------------------------------------------------------------------

// What the caller's source was asked, and how it answers.
struct SourceRecord {
    int passwordRequests = 0;
    password_answer password = password_answer::declined();
    std::vector<std::wstring> volumeRequests;
    volume_answer volume = volume_answer::unavailable();
};

com_ptr<archive_source> RecordingSource(SourceRecord& record) {
    return make<archive_source>(L"7z", L"photos.7z", L"/data/photos.7z",
                                archive_source_hooks{
                                    .request_password =
                                        [&record] {
                                            ++record.passwordRequests;
                                            return record.password;
                                        },
                                    .get_volume =
                                        [&record](std::wstring_view name) {
                                            record.volumeRequests.emplace_back(name);
                                            return record.volume;
                                        },
                                });
}

class OpenHandler : public ::testing::Test {
protected:
    com_ptr<OpenArchiveHandler> Handler() {
        return make<OpenArchiveHandler>(make<InputStreamAdapter>(MemoryStream(Pattern(100))), RecordingSource(record));
    }
    static std::optional<std::wstring> Password(OpenArchiveHandler* handler, HRESULT expected) {
        BSTR password = nullptr;
        EXPECT_EQ(handler->CryptoGetTextPassword(&password), expected);
        zorvik::rt::bstr owner = zorvik::rt::bstr::attach(password);
        if (!password) return std::nullopt;
        return std::wstring(owner.view());
    }
    SourceRecord record;
};

TEST_F(OpenHandler, NamesTheArchiveOrInSubArchiveModeTheInnerOneAndThenRefusesVolumes) {
    auto handler = Handler();
    prop_variant name, size, other;
    ASSERT_EQ(handler->GetProperty(Engine::kpidName, name.put()), S_OK);
    EXPECT_EQ(name.as_string(), L"photos.7z");
    ASSERT_EQ(handler->GetProperty(Engine::kpidSize, size.put()), S_OK);
    EXPECT_EQ(size.type(), VT_UI8);
    EXPECT_EQ(size.as_uint64(), 100u);
    ASSERT_EQ(handler->GetProperty(Engine::kpidPath, other.put()), S_OK);
    EXPECT_TRUE(other.empty());
    EXPECT_EQ(handler->ArchiveExtension(), L"7z");

    ASSERT_EQ(handler->SetSubArchiveName(L"inner.tar"), S_OK);
    EXPECT_EQ(handler->ArchiveExtension(), L"tar");
    ASSERT_EQ(handler->GetProperty(Engine::kpidName, name.put()), S_OK);
    EXPECT_EQ(name.as_string(), L"inner.tar");
    ASSERT_EQ(handler->GetProperty(Engine::kpidSize, size.put()), S_OK);
    EXPECT_TRUE(size.empty());

    record.volume = volume_answer::given(MemoryStream("more"));
    com_ptr<Engine::IInStream> volume;
    EXPECT_EQ(handler->GetStream(L"inner.tar.001", volume.put()), S_FALSE);
    EXPECT_FALSE(volume);
    EXPECT_TRUE(record.volumeRequests.empty());
    EXPECT_FALSE(handler->VolumeRequested());

    ASSERT_EQ(handler->SetSubArchiveName(L"noextension"), S_OK);
    EXPECT_EQ(handler->ArchiveExtension(), L"");
}

TEST_F(OpenHandler, AsksForThePasswordOncePerAttemptAndPassesOnCancelOrDecline) {
    auto handler = Handler();
    record.password = password_answer::given(L"secret");
    EXPECT_EQ(Password(handler.get(), S_OK), L"secret");
    EXPECT_EQ(Password(handler.get(), S_OK), L"secret");
    EXPECT_EQ(record.passwordRequests, 1);
    EXPECT_EQ(handler->CachedPassword(), L"secret");

    handler->ClearCachedPassword();
    record.password = password_answer::canceled();
    EXPECT_EQ(Password(handler.get(), E_ABORT), std::nullopt);
    record.password = password_answer{2, L"ignored"};
    EXPECT_EQ(Password(handler.get(), E_FAIL), std::nullopt);
    EXPECT_FALSE(handler->CachedPassword());
    EXPECT_EQ(record.passwordRequests, 3);

    // A caller failure comes back as its HRESULT, never as an exception.
    auto failing = make<OpenArchiveHandler>(
        make<InputStreamAdapter>(MemoryStream("x")),
        make<archive_source>(L"7z", L"a.7z", L"a.7z", archive_source_hooks{.request_password = []() -> password_answer {
                                 throw zorvik::rt::hresult_error(E_ACCESSDENIED);
                             }}));
    EXPECT_EQ(Password(failing.get(), E_ACCESSDENIED), std::nullopt);
}

TEST_F(OpenHandler, DeliveredVolumeGrowsTotalSizeAndBecomesCurrentOthersChangeNothing) {
    auto handler = Handler();
    handler->SetTotalSize(100);
    const auto first = handler->CurrentStream();
    com_ptr<Engine::IInStream> volume;
    EXPECT_EQ(handler->GetStream(L"v2", volume.put()), S_FALSE);
    record.volume = volume_answer{0, nullptr};
    EXPECT_EQ(handler->GetStream(L"v2", volume.put()), S_FALSE);
    record.volume = volume_answer::canceled();
    EXPECT_EQ(handler->GetStream(L"v2", volume.put()), E_ABORT);
    EXPECT_FALSE(volume);
    EXPECT_TRUE(handler->VolumeRequested());
    EXPECT_EQ(handler->TotalSize(), 100u);
    EXPECT_EQ(handler->CurrentStream(), first);

    record.volume = volume_answer::given(MemoryStream("second volume"));
    ASSERT_EQ(handler->GetStream(L"photos.7z.002", volume.put()), S_OK);
    ASSERT_TRUE(volume);
    EXPECT_EQ(record.volumeRequests.back(), L"photos.7z.002");
    EXPECT_EQ(handler->TotalSize(), 113u);
    EXPECT_EQ(static_cast<Engine::IInStream*>(handler->CurrentStream().get()), volume.get());
    char text[32] = {};
    std::uint32_t processed = 0;
    ASSERT_EQ(volume->Read(text, sizeof text, &processed), S_OK);
    EXPECT_EQ(std::string(text, processed), "second volume");
    // The size property now describes the current volume.
    prop_variant size;
    ASSERT_EQ(handler->GetProperty(Engine::kpidSize, size.put()), S_OK);
    EXPECT_EQ(size.as_uint64(), 13u);
}

// --- With the real engine -------------------------------------------------------------------

class OpenWithEngine : public Engine::Testing::TemporaryFolderTest {
protected:
    void SetUp() override {
        TemporaryFolderTest::SetUp();
        if (std::system("7z i >/dev/null 2>&1") != 0) GTEST_SKIP() << "the 7z archiver is not installed";
        directory_ = folder_.parent_path();
        std::ofstream(directory_ / "hello.txt") << "hello from the test\n";
    }
    // Makes an archive of hello.txt with extra 7z switches.
    std::filesystem::path Make7z(const std::string& name, const std::string& switches) {
        const auto archive = directory_ / name;
        const std::string command =
            "cd '" + directory_.string() + "' && 7z a -bso0 -bsp0 " + switches + " '" + archive.string() + "' hello.txt";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return archive;
    }
    static com_ptr<Engine::IInArchive> SevenZipHandler() {
        constexpr GUID kSevenZip{0x23170F69, 0x40C1, 0x278A, {0x10, 0x00, 0x00, 0x01, 0x10, 0x07, 0x00, 0x00}};
        com_ptr<Engine::IInArchive> handler;
        EXPECT_EQ(Engine::EngineModule::Get().CreateObject(&kSevenZip, &Engine::IInArchive::iid, handler.put_void()), S_OK);
        return handler;
    }
    // Opens the file through the adapter and the open handler.
    HRESULT Open(const std::filesystem::path& archive, com_ptr<Engine::IInArchive>& handler, com_ptr<OpenArchiveHandler>& callback) {
        auto file = zorvik::rt::open_file_stream(archive.wstring(), ABI::Windows::Storage::FileAccessMode::Read);
        auto stream = make<InputStreamAdapter>(file);
        callback = make<OpenArchiveHandler>(stream, RecordingSource(record));
        callback->SetTotalSize(stream->Size());
        handler = SevenZipHandler();
        const std::uint64_t maxCheck = 1 << 20;
        return handler->Open(stream.get(), &maxCheck, callback.get());
    }
    static std::wstring FirstPath(Engine::IInArchive* handler) {
        prop_variant path;
        EXPECT_EQ(handler->GetProperty(0, Engine::kpidPath, path.put()), S_OK);
        return std::wstring(path.as_string().value_or(L"?"));
    }

    std::filesystem::path directory_;
    SourceRecord record;
};

TEST_F(OpenWithEngine, SevenZipOpensThroughAdapterAndOpenHandler) {
    const auto before = LiveObjectCount().load();
    {
        const auto archive = Make7z("plain.7z", "");
        com_ptr<Engine::IInArchive> handler;
        com_ptr<OpenArchiveHandler> callback;
        ASSERT_EQ(Open(archive, handler, callback), S_OK);
        std::uint32_t items = 0;
        ASSERT_EQ(handler->GetNumberOfItems(&items), S_OK);
        EXPECT_EQ(items, 1u);
        EXPECT_EQ(FirstPath(handler.get()), L"hello.txt");
        EXPECT_EQ(callback->TotalSize(), std::filesystem::file_size(archive));
        EXPECT_EQ(record.passwordRequests, 0);
        EXPECT_FALSE(callback->VolumeRequested());
        EXPECT_EQ(handler->Close(), S_OK);
    }
    // The platform may drop its last reference to a read buffer just after the read completes.
    for (int i = 0; i < 200 && LiveObjectCount().load() != before; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(LiveObjectCount().load(), before) << "an engine-facing object was leaked";
}

TEST_F(OpenWithEngine, EncryptedHeadersAskTheCallerForThePassword) {
    const auto archive = Make7z("secret.7z", "-psecret -mhe=on");
    com_ptr<Engine::IInArchive> handler;
    com_ptr<OpenArchiveHandler> callback;
    record.password = password_answer::given(L"secret");
    ASSERT_EQ(Open(archive, handler, callback), S_OK);
    EXPECT_EQ(record.passwordRequests, 1);
    EXPECT_EQ(callback->CachedPassword(), L"secret");
    EXPECT_EQ(FirstPath(handler.get()), L"hello.txt");

    record.password = password_answer::canceled();
    EXPECT_EQ(Open(archive, handler, callback), E_ABORT);
    record.password = password_answer::declined();
    const HRESULT declined = Open(archive, handler, callback);
    EXPECT_NE(declined, S_OK);
    EXPECT_NE(declined, E_ABORT);
}

}  // namespace
}  // namespace Zorvik::Impl::Testing
