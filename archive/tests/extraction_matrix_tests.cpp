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

}  // namespace
}  // namespace Zorvik::Testing
