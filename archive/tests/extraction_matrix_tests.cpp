// Every file of real archives of each format and method arrives byte-identical, in memory
// streams and in files, through the public extraction member.
#include "archive/tests/ExtractionTesting.h"

namespace Zorvik::Testing {
namespace {

struct Made {
    const char* file;
    const char* command;
};

// Archives of the whole tree.
constexpr Made kTreeArchives[] = {
    {"lzma2-solid.7z", "7z a -bd lzma2-solid.7z tree"},
    {"lzma2-plain.7z", "7z a -bd -ms=off lzma2-plain.7z tree"},
    {"lzma.7z", "7z a -bd -m0=LZMA lzma.7z tree"},
    {"ppmd.7z", "7z a -bd -m0=PPMd ppmd.7z tree"},
    {"bzip2.7z", "7z a -bd -m0=BZip2 bzip2.7z tree"},
    {"copy.7z", "7z a -bd -m0=Copy copy.7z tree"},
    {"deflate.zip", "zip -qr deflate.zip tree"},
    {"deflate64.zip", "7z a -bd -tzip -mm=Deflate64 deflate64.zip tree"},
    {"bzip2.zip", "7z a -bd -tzip -mm=BZip2 bzip2.zip tree"},
    {"lzma.zip", "7z a -bd -tzip -mm=LZMA lzma.zip tree"},
    {"store.zip", "zip -qr0 store.zip tree"},
    {"t.tar", "tar cf t.tar tree"},
    {"t.tar.gz", "tar czf t.tar.gz tree"},
    {"t.tar.xz", "tar cJf t.tar.xz tree"},
};

// Compressed streams of one file.
constexpr Made kSingleStreams[] = {
    {"noise.bin.gz", "{ gzip -c tree/noise.bin > noise.bin.gz; }"},
    {"noise.bin.bz2", "{ bzip2 -c tree/noise.bin > noise.bin.bz2; }"},
    {"noise.bin.xz", "{ xz -c tree/noise.bin > noise.bin.xz; }"},
};

class ExtractionMatrix : public Extraction {
protected:
    // Extracts the whole archive into memory, or into files below a folder of its own; the
    // caller hears every entry succeed exactly once and gets every stream back.
    void ExtractAll(const std::string& file, bool intoFiles, Heard& heard) {
        if (intoFiles) heard.outputFolder = Path("out-" + file);
        auto archive = Opened(file);
        ASSERT_TRUE(archive);
        auto operation = ExtractAsync(archive.get(), {Item(RootOf(archive.get()))}, Recorder(heard).get());
        ASSERT_EQ(EndOf(operation), AsyncStatus::Completed);
        EXPECT_TRUE(zorvik::rt::get(operation));
        EXPECT_TRUE(heard.failed.empty());
        EXPECT_EQ(heard.completed.size(), heard.itemCount) << "every mapped entry is reported once";
        EXPECT_TRUE(std::all_of(heard.completed.begin(), heard.completed.end(), [](const auto& c) { return c.second; }));
        EXPECT_EQ(*heard.streamsHeld, 0) << "every destination stream is let go";
    }
};

TEST_F(ExtractionMatrix, EveryFileOfEveryFormatAndMethodArrivesByteIdentical) {
    for (const auto& made : kTreeArchives) Run(made.command);
    for (const bool intoFiles : {false, true}) {
        for (const auto& made : kTreeArchives) {
            SCOPED_TRACE(std::string(made.file) + (intoFiles ? " into files" : " into memory"));
            Heard heard;
            ExtractAll(made.file, intoFiles, heard);
            for (const char* path : kTreeFiles) EXPECT_EQ(heard.Content(KeyOf(path)), OnDisk(path)) << path;
            EXPECT_EQ(heard.files.size(), std::size(kTreeFiles));
            EXPECT_EQ(Sorted(heard.folders), (std::vector<std::string>{"tree", "tree/a", "tree/a/c", "tree/empty"}));
            EXPECT_GT(heard.total, 0u);
        }
    }
}

TEST_F(ExtractionMatrix, ASingleCompressedFileArrivesByteIdentical) {
    for (const auto& made : kSingleStreams) Run(made.command);
    for (const bool intoFiles : {false, true}) {
        for (const auto& made : kSingleStreams) {
            SCOPED_TRACE(std::string(made.file) + (intoFiles ? " into files" : " into memory"));
            Heard heard;
            ExtractAll(made.file, intoFiles, heard);
            ASSERT_EQ(heard.files.size(), 1u);
            EXPECT_EQ(heard.Content(heard.files.begin()->first), OnDisk("tree/noise.bin"));
        }
    }
}

TEST_F(ExtractionMatrix, DataLargerThanTheWriteBufferArrivesWhole) {
    // Several full buffers and a tail, so that write-behind overlaps decoding for real.
    std::string big(3 * 8 * 1024 * 1024 + 12345, '\0');
    std::uint32_t state = 99;
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = i % 3 == 0 ? static_cast<char>((state = state * 69069 + 1) >> 24) : 'z';
    fs::create_directories(Path("big"));
    Write("big/big.bin", big);
    Run("7z a -bd -mx=1 big.7z big");
    Run("7z a -bd -m0=Copy big-copy.7z big");
    for (const char* file : {"big.7z", "big-copy.7z"}) {
        for (const bool intoFiles : {false, true}) {
            SCOPED_TRACE(std::string(file) + (intoFiles ? " into files" : " into memory"));
            Heard heard;
            ExtractAll(file, intoFiles, heard);
            EXPECT_TRUE(heard.Content("big/big.bin") == big) << "content differs";
        }
    }
}

// What a caller hears of an extraction, whatever order its entries end in.
struct Outcome {
    bool result = false;
    std::uint32_t itemCount = 0;
    std::vector<std::string> requests;
    std::vector<std::pair<std::string, bool>> completed;
    std::vector<std::pair<std::string, std::int32_t>> failed;
    std::vector<std::string> folders;
    std::map<std::string, std::string> contents;
    std::size_t passwordsAsked = 0;
    bool operator==(const Outcome&) const = default;
};

TEST_F(ExtractionMatrix, SeveralThreadsGiveWhatOneGives) {
    for (const auto& made : kTreeArchives) Run(made.command);
    fs::create_directories(Path("extra"));
    Write("extra/other.txt", std::string(5000, 'o'));
    // A zip whose entries are under one password but one under another, a 7z whose headers are
    // encrypted, and a zip in volumes: the runs open them again with what the first open was given.
    Run("7z a -bd -tzip -mem=AES256 -pone aes.zip tree && 7z a -bd -tzip -mem=AES256 -ptwo aes.zip extra");
    Run("7z a -bd -ms=off -mhe=on -pone headers.7z tree");
    Run("zip -qr -s 200k split.zip tree");
    // A zip with a damaged entry between intact ones.
    std::string damaged = ReadFile(Path("deflate.zip"));
    const std::size_t name = damaged.find("tree/noise.bin");
    const std::size_t data =
        name + 14 + static_cast<unsigned char>(damaged[name - 2]) + 256 * static_cast<unsigned char>(damaged[name - 1]);
    damaged[data + 5000] = static_cast<char>(damaged[data + 5000] ^ 0x5a);
    std::ofstream(Path("damaged.zip"), std::ios::binary) << damaged;

    archive_source_hooks sourceHooks;
    sourceHooks.request_password = [] { return password_answer::given(L"one"); };
    sourceHooks.get_volume = [this](std::wstring_view volume) {
        const fs::path path = Path(Utf8(volume.substr(volume.find_last_of(L"/\\") + 1)));
        return fs::exists(path) ? volume_answer::given(OpenFile(path)) : volume_answer::unavailable();
    };
    const auto extract = [&](const std::string& file, std::uint32_t threads) {
        auto archive = NewArchive();
        EXPECT_TRUE(OpenArchive(archive.get(), Path(file), sourceHooks)) << file;
        Heard heard;
        auto callback = Recorder(heard, {.get_password = [](IArchiveItem*) { return password_answer::given(L"one"); }});
        auto operation = StartSpreadExtract(archive, {Item(RootOf(archive.get()))}, callback, threads);
        Outcome outcome;
        EXPECT_EQ(EndOf(operation), AsyncStatus::Completed);
        outcome.result = zorvik::rt::get(operation);
        outcome.itemCount = heard.itemCount;
        outcome.requests = Sorted(heard.fileRequests);
        outcome.completed = heard.completed;
        std::sort(outcome.completed.begin(), outcome.completed.end());
        outcome.failed = heard.failed;
        std::sort(outcome.failed.begin(), outcome.failed.end());
        outcome.folders = Sorted(heard.folders);
        for (const std::string& request : heard.fileRequests) outcome.contents[request] = heard.Content(request);
        outcome.passwordsAsked = heard.passwordItemGiven.size();
        EXPECT_EQ(*heard.streamsHeld, 0);
        return outcome;
    };

    std::vector<std::string> files;
    for (const auto& made : kTreeArchives) files.push_back(made.file);
    for (const char* file : {"aes.zip", "headers.7z", "split.zip", "damaged.zip"}) files.push_back(file);
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const Outcome one = extract(file, 1);
        EXPECT_EQ(extract(file, 3), one);
        using Failures = std::vector<std::pair<std::string, std::int32_t>>;
        if (file == "damaged.zip") {
            EXPECT_EQ(one.failed, (Failures{{"noise.bin", ExtractionFailure::DataCheck}}));
        } else if (file == "aes.zip") {
            EXPECT_EQ(one.failed, (Failures{{"other.txt", ExtractionFailure::Encrypted}}));
        } else {
            EXPECT_TRUE(one.failed.empty());
        }
    }
}

}  // namespace
}  // namespace Zorvik::Testing
