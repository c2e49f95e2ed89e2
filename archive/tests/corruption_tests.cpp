// Archives whose entry data has flipped bits: the damage reaches the caller per entry through
// ItemFailed; an entry reported as extracted always holds its source bytes; nothing crashes or
// hangs.
#include <cstring>
#include <random>

#include "archive/tests/ExtractionTesting.h"

namespace Zorvik::Testing {
namespace {

struct Range {
    std::size_t begin;
    std::size_t end;
};

std::uint64_t LittleEndian(const std::string& bytes, std::size_t at, int width) {
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = value << 8 | static_cast<std::uint8_t>(bytes.at(at + i));
    return value;
}

// Packed streams lie between the signature header and the end header (with header compression
// off, nothing else does).
std::vector<Range> SevenZipData(const std::string& bytes) { return {{32, 32 + static_cast<std::size_t>(LittleEndian(bytes, 12, 8))}}; }

// The data of every entry, from its local header on.
std::vector<Range> ZipData(const std::string& bytes) {
    std::vector<Range> ranges;
    for (std::size_t at = 0; LittleEndian(bytes, at, 4) == 0x04034b50;) {
        const auto packed = static_cast<std::size_t>(LittleEndian(bytes, at + 18, 4));
        const std::size_t data = at + 30 + LittleEndian(bytes, at + 26, 2) + LittleEndian(bytes, at + 28, 2);
        if (packed > 0) ranges.push_back({data, data + packed});
        at = data + packed;
    }
    return ranges;
}

// The deflate stream between a name-less gzip header and the CRC and size trailer.
std::vector<Range> GzipData(const std::string& bytes) { return {{10, bytes.size() - 8}}; }

struct Damaged {
    const char* file;
    const char* command;
    std::vector<Range> (*data)(const std::string&);
};

class Corruption : public Extraction {
protected:
    void SetUp() override {
        Extraction::SetUp();
        Run("tar cf t.tar tree");
        for (const char* path : kTreeFiles) sources_[fs::path(path).filename().string()] = OnDisk(path);
        // A gzip whose tar cannot be decoded is presented as the compressed file itself.
        sources_["t.tar"] = OnDisk("t.tar");
    }

    // Extracts everything from a copy of file with the given bits flipped, and checks what the
    // caller heard against the sources. True when some entry was reported failed.
    bool ExtractDamaged(const std::string& file, const std::vector<std::size_t>& flips) {
        std::string bytes = ReadFile(Path(file));
        for (const std::size_t bit : flips) bytes[bit / 8] = static_cast<char>(bytes[bit / 8] ^ (1 << (bit % 8)));
        // Under its own name: a gzip names its only entry after itself.
        const std::string damaged = "damaged/" + file;
        fs::create_directories(Path("damaged"));
        std::ofstream(Path(damaged), std::ios::binary | std::ios::trunc) << bytes;

        auto archive = NewArchive();
        EXPECT_TRUE(OpenArchive(archive.get(), Path(damaged))) << "headers are intact";
        Heard heard;
        auto operation = ExtractAsync(archive.get(), {Item(RootOf(archive.get()))}, Recorder(heard).get());
        EXPECT_EQ(EndOf(operation), AsyncStatus::Completed) << "damaged data ends no operation";

        EXPECT_EQ(heard.completed.size(), heard.itemCount) << "every entry is reported once";
        for (const auto& request : heard.fileRequests) {
            const std::string name = request.substr(request.rfind('/') + 1);  // npos + 1 is 0
            if (!sources_.count(name)) {
                ADD_FAILURE() << "unexpected entry " << request;
                continue;
            }
            const bool intact = heard.Content(request) == sources_.at(name);
            const bool failed = std::any_of(heard.failed.begin(), heard.failed.end(), [&](const auto& f) { return f.first == name; });
            EXPECT_TRUE(intact || !heard.Succeeded(name)) << name << " reported extracted with damaged content";
            EXPECT_TRUE(intact || failed) << name << " damaged but not reported failed";
        }
        for (const auto& [name, kind] : heard.failed)
            EXPECT_TRUE(kind == ExtractionFailure::DataCheck || kind == ExtractionFailure::Other) << name << " kind " << kind;
        EXPECT_EQ(*heard.streamsHeld, 0);
        return !heard.failed.empty();
    }

    std::map<std::string, std::string> sources_;
};

TEST_F(Corruption, FlippedBitsInEntryDataAreReportedPerEntryAndNeverPassForSuccess) {
    const Damaged formats[] = {
        {"lzma2.7z", "7z a -bd -mhc=off lzma2.7z tree", SevenZipData}, {"copy.7z", "7z a -bd -mhc=off -m0=Copy copy.7z tree", SevenZipData},
        {"deflate.zip", "zip -qr deflate.zip tree", ZipData},          {"store.zip", "zip -qr0 store.zip tree", ZipData},
        {"t.tar.gz", "{ gzip -n -c t.tar > t.tar.gz; }", GzipData},
    };
    std::mt19937 random(4711);
    for (const auto& format : formats) {
        SCOPED_TRACE(format.file);
        Run(format.command);
        const std::vector<Range> data = format.data(ReadFile(Path(format.file)));
        ASSERT_FALSE(data.empty());
        std::size_t size = 0;
        for (const auto& range : data) size += range.end - range.begin;

        int detected = 0;
        constexpr int kTrials = 12;
        for (int trial = 0; trial < kTrials; ++trial) {
            std::vector<std::size_t> flips;
            for (int n = 1 + static_cast<int>(random() % 3); n > 0; --n) {
                std::size_t offset = random() % size;
                auto range = data.begin();
                for (; offset >= range->end - range->begin; ++range) offset -= range->end - range->begin;
                flips.push_back((range->begin + offset) * 8 + random() % 8);
            }
            SCOPED_TRACE("trial " + std::to_string(trial));
            detected += ExtractDamaged(format.file, flips);
        }
        EXPECT_GT(detected, kTrials / 2) << "flips in entry data are found";
    }
}

}  // namespace
}  // namespace Zorvik::Testing
