// The reader over damaged, truncated, random and incomplete input: every call ends with a
// clean result. Run under ASan/UBSan to catch what does not crash outright.
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>

#include "rar/tests/RarTesting.h"

namespace UnRAR::Testing {
namespace {

namespace fs = std::filesystem;

constexpr HRESULT_t kFail = static_cast<HRESULT_t>(0x80004005);

class BadInput : public RarFolder {
protected:
    void SetUp() override {
        RarFolder::SetUp();
        if (IsSkipped()) return;
        std::string text;
        for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i) + " of some text\n";
        Write("src/text.txt", text);
        std::string noise(50000, '\0');
        std::mt19937 random(7);
        for (char& c : noise) c = static_cast<char>(random());
        Write("src/noise.bin", noise);
        Write("src/copy.bin", noise);
    }

    // Opens data as a single volume and, when that works, extracts every item; the results
    // must be answers, whatever the bytes.
    static HRESULT_t OpenAndExtract(const std::string& data, std::map<std::wstring, std::string> volumes = {},
                                    MemoryExtraction* extraction = nullptr, std::wstring name = L"a.rar") {
        auto callback = std::make_shared<MemoryVolumes>();
        callback->name = std::move(name);
        callback->volumes = std::move(volumes);
        callback->password = L"secret";
        Reader reader;
        const HRESULT_t opened = reader.Open(std::make_shared<MemoryInput>(data, 4096), callback);
        if (opened != 0) return opened;
        std::vector<std::uint32_t> all(reader.ItemCount());
        for (std::uint32_t i = 0; i < all.size(); ++i) all[i] = i;
        auto results = std::make_shared<MemoryExtraction>();
        results->password = L"secret";
        const HRESULT_t extracted = reader.Extract(all, results);
        if (extraction) *extraction = *results;
        return extracted;
    }
};

TEST_F(BadInput, TruncatedArchivesEndCleanly) {
    for (const char* options : {"-m3", "-m3 -s", "-m0 -psecret", "-m5 -s -hpsecret -oi"}) {
        SCOPED_TRACE(options);
        const std::string archive = Make(std::string("t") + std::to_string(std::rand()) + ".rar", options);
        ASSERT_FALSE(archive.empty());
        for (std::size_t length = 0; length < archive.size(); length += std::max<std::size_t>(1, archive.size() / 97))
            OpenAndExtract(archive.substr(0, length));
    }
}

TEST_F(BadInput, FlippedBitsEndCleanly) {
    std::mt19937 random(1);
    for (const char* options : {"-m3", "-m2 -s -htb", "-m3 -psecret"}) {
        SCOPED_TRACE(options);
        const std::string archive = Make(std::string("f") + std::to_string(std::rand()) + ".rar", options);
        for (int round = 0; round < 150; ++round) {
            std::string damaged = archive;
            for (int flips = 0; flips < 1 + round % 4; ++flips)
                damaged[random() % damaged.size()] ^= static_cast<char>(1u << (random() % 8));
            OpenAndExtract(damaged);
        }
    }
}

TEST_F(BadInput, RandomBytesAreNotAnArchive) {
    std::mt19937 random(2);
    for (int round = 0; round < 50; ++round) {
        std::string bytes(1 + random() % 5000, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        if (round % 2) bytes.replace(0, 8, std::string("Rar!\x1a\x07\x01\x00", 8));
        EXPECT_NE(OpenAndExtract(bytes), 0) << round;
    }
}

TEST_F(BadInput, AMissingVolumeFailsTheItemsThatNeedIt) {
    Make("v.rar", "-m0 -v20k");
    std::map<std::wstring, std::string> volumes;
    for (const auto& file : fs::directory_iterator(root_))
        if (file.path().filename().string().rfind("v.part", 0) == 0)
            volumes[file.path().filename().wstring()] = ReadBytes(file.path().string());
    ASSERT_GE(volumes.size(), 4u);
    const std::wstring firstName = volumes.begin()->first;
    const std::string first = volumes.begin()->second;

    MemoryExtraction complete;
    EXPECT_EQ(OpenAndExtract(first, volumes, &complete, firstName), 0);
    EXPECT_FALSE(complete.results.empty());
    EXPECT_TRUE(std::all_of(complete.results.begin(), complete.results.end(), [](std::int32_t r) { return r == kResultOk; }));

    volumes.erase(std::next(volumes.begin(), 2));
    MemoryExtraction incomplete;
    const HRESULT_t result = OpenAndExtract(first, volumes, &incomplete, firstName);
    EXPECT_NE(result, 0);
    ASSERT_FALSE(incomplete.results.empty());
    EXPECT_NE(incomplete.results.back(), kResultOk) << "an item cut short by a missing volume is no success";
}

// The archive with the compression information of its first compressed file changed by patch
// (given the field's first byte; the field is at least two bytes long) and the header's CRC
// redone.
template <typename Patch>
std::string WithCompressionInfo(std::string archive, Patch&& patch) {
    const auto vint = [&](std::size_t& at) {
        std::uint64_t value = 0;
        for (int shift = 0; at < archive.size(); shift += 7) {
            const auto byte = static_cast<std::uint8_t>(archive[at++]);
            value |= std::uint64_t(byte & 0x7f) << shift;
            if (!(byte & 0x80)) break;
        }
        return value;
    };
    std::size_t block = 8;
    while (block + 4 < archive.size()) {
        std::size_t at = block + 4;
        const std::uint64_t size = vint(at);
        const std::size_t headerStart = at;
        const std::uint64_t type = vint(at);
        const std::uint64_t flags = vint(at);
        if (flags & 1) vint(at);
        const std::uint64_t dataSize = (flags & 2) ? vint(at) : 0;
        if (type == 2) {
            const std::uint64_t fileFlags = vint(at);
            vint(at);  // unpacked size
            vint(at);  // attributes
            if (fileFlags & 2) at += 4;
            if (fileFlags & 4) at += 4;
            const std::size_t compInfoAt = at;
            const std::uint64_t compInfo = vint(at);
            if (((compInfo >> 7) & 7) == 0) {  // stored or a folder: no decoder involved
                block = headerStart + size + dataSize;
                continue;
            }
            patch(&archive[compInfoAt]);
            std::uint32_t crc = 0xFFFFFFFF;
            for (std::size_t i = block + 4; i < headerStart + size; ++i) {
                crc ^= static_cast<std::uint8_t>(archive[i]);
                for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
            }
            crc = ~crc;
            for (int i = 0; i < 4; ++i) archive[block + i] = static_cast<char>(crc >> (8 * i));
            return archive;
        }
        block = headerStart + size + dataSize;
    }
    return archive;
}

// A decoder version this library does not have, as RAR 7 writes for dictionaries over 4 GiB.
std::string WithUnknownDecoder(std::string archive) {
    return WithCompressionInfo(std::move(archive), [](char* info) { info[0] = static_cast<char>((info[0] & ~0x3f) | 0x01); });
}

// The largest dictionary a RAR 5 header can ask for, 4 GiB (bits 10 to 13 set).
std::string WithLargestDictionary(std::string archive) {
    return WithCompressionInfo(std::move(archive), [](char* info) { info[1] = static_cast<char>(info[1] | 0x78); });
}

TEST_F(BadInput, AnUnknownDecoderVersionIsAnUnsupportedMethod) {
    const std::string archive = WithUnknownDecoder(Make("u.rar", "-m3"));
    MemoryExtraction extraction;
    OpenAndExtract(archive, {}, &extraction);
    ASSERT_FALSE(extraction.results.empty());
    EXPECT_EQ(std::count(extraction.results.begin(), extraction.results.end(), kResultUnsupported), 1) << "not a CRC error";
    EXPECT_EQ(std::count(extraction.results.begin(), extraction.results.end(), kResultOk), static_cast<long>(extraction.results.size()) - 1)
        << "the other items of a non-solid archive still extract";
}

// Found by the fuzzer: an encrypted entry whose key derivation count is beyond what the library
// sets keys for, without a password check value. The library leaves its cipher unkeyed; the
// entry must be refused, not decrypted with it.
TEST(BadInputs, AnEntryTheLibraryCannotKeyIsRefused) {
    const std::string first(
        "\x52\x61\x72\x21\x1a\x07\x01\x00\x09\xef\xc8\x6f\x0b\x01\x05\x07\x04\x06\x01\x01\x80\x80\x80\x00\x82\x02\xeb\x98\x49\x02\x03\x2e"
        "\x8e\x04\x00\xd4\x0b\xa4\x83\x02\x80\x1b\x01\x0c\x73\x72\x63\x2f\x74\x65\x78\x74\x2e\x74\x78\x74\x22\x02\x00\x72\xee\x5a\xec\x5b"
        "\x37\x1d\x63\x03\x49\xbc\x70\x15\xff\x52\x61\x72\x21\x1a\x07\x01\x00\xf3\xe1\x82\xeb\x0b\x01\x05\x07\x00\x06\x01\x01\x80\x80\x80"
        "\x00\x11\xa5\x18\xed\x2a\x02\x03\x0b\xbf\x02\x04\xd4\x0b\xa4\x83\x02\x21\x86\xdd\xd6\x80\x05\x01\x0c\x73\x72\x63\x2f\x74\x65\x78"
        "\x74\x2e\x74\x78\x74\x0a\x03\x13\xbc\xeb\x4c\xd8\xa0\xcb\xc2\xa7\x0a\x0a\xe8\xd6\xc3\x87\x37\x0a\xde\xc1\x9f\x00\x42\x0a\x03\x13"
        "\xbc\xeb\x17\x6b\x1e\x80\xb2\x24\x17\x6b\xc9\x1e",
        172);
    const std::string second(
        "\x09\xef\xc8\x6f\x0b\x01\x05\x07\x04\x06\x01\x01\x80\x80\x80\x00\x82\x02\xeb\x98\x49\x02\x03\x2e\x8e\x04\x00\xd4\x0b\xa4\x83\x02"
        "\x80\x1b\x01\x0c\x73\x72\x63\x2f\x74\x65\x78\x74\x2e\x74\x78\x74\x22\x02\x00\x72\xee\x5a\xec\x5b\x37\x1d\x63\x03\x49\xbc\x70\x15"
        "\xff\x52\x61\x72\x21\x1a\x07\x01\x00\xf3\xe1\x82\xeb\x0b\x01\x05\x07\x00\x06\x01\x01\x80\x80\x80\x00\x11\xa5\x18\xed\x2a\x02\x03"
        "\x0b\xbf\x02\x04\xd4\x0b\xa4\x83\x02\x21\x86\xdd\xd6\x80\x05\x01\x0c\x73\x72\x63\x2f\x74\x65\x78\x74\x2e\x74\x78\x74\x0a\x03\x13"
        "\xbc\xeb\x4c\xd8\xa0\xcb\xc2\xa7\x0a\x0a\xe8\xd6\xc3\x87\x37\x0a\xde\xc1\x9f\x00\x42\x0a\x03\x13\xbc\xeb\x17\x6b\x1e\x80\xb2\x24"
        "\x17\x6b\xc9\x1e\x9b",
        165);
    auto volumes = std::make_shared<MemoryVolumes>();
    volumes->name = L"f.part1.rar";
    volumes->volumes[L"f.part2.rar"] = second;
    volumes->password = L"password";
    Reader reader;
    ASSERT_EQ(reader.Open(std::make_shared<MemoryInput>(first), volumes), 0);
    auto extraction = std::make_shared<MemoryExtraction>();
    extraction->password = L"password";
    std::vector<std::uint32_t> all(reader.ItemCount());
    for (std::uint32_t i = 0; i < all.size(); ++i) all[i] = i;
    reader.Extract(all, extraction);
    EXPECT_EQ(std::count(extraction->results.begin(), extraction->results.end(), kResultOk), 0);
}

// The process's peak of mapped memory, in KiB.
long PeakMappedKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmPeak:", 0) == 0) return std::stol(line.substr(7));
    return 0;
}

// A few kilobytes asking for a 4 GiB dictionary must not take 4 GiB (the library maps and
// clears the whole window): a file decoded on its own needs no more dictionary than its size.
// A solid stream's window needs no more than the archive's whole content.
TEST_F(BadInput, AFileNeedsNoLargerDictionaryThanItself) {
    for (const auto& [name, switches] : {std::pair{"d.rar", "-m3"}, std::pair{"solid.rar", "-m3 -s"}}) {
        SCOPED_TRACE(switches);
        const std::string archive = WithLargestDictionary(Make(name, switches));
        const long before = PeakMappedKiB();
        MemoryExtraction extraction;
        EXPECT_EQ(OpenAndExtract(archive, {}, &extraction), 0);
        EXPECT_LT(PeakMappedKiB() - before, 1L << 20) << "more than 1 GiB more memory mapped";
        EXPECT_EQ(extraction.results, std::vector<std::int32_t>(extraction.results.size(), kResultOk));
        std::string text;
        for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i) + " of some text\n";
        bool found = false;
        for (const auto& [index, output] : extraction.outputs) found = found || output->data == text;
        EXPECT_TRUE(found) << "the file decodes to its content";
    }
}

class ThrowingExtraction final : public IExtractCallback {
public:
    HRESULT_t GetStream(std::uint32_t, std::shared_ptr<IOutputStream>&) override { throw std::bad_alloc(); }
    bool PrepareOperation() override { return true; }
    bool SetOperationResult(std::int32_t result) override { return results.push_back(result), true; }
    bool SetTotal(std::uint64_t) override { return true; }
    bool SetCompleted(const std::uint64_t*) override { return true; }
    HRESULT_t GetPassword(wchar_t*) override { return 0; }
    std::vector<std::int32_t> results;
};

TEST_F(BadInput, ExceptionsBecomeResults) {
    auto volumes = std::make_shared<MemoryVolumes>();
    Reader reader;
    ASSERT_EQ(reader.Open(std::make_shared<MemoryInput>(Make("x.rar", "-m1")), volumes), 0);
    auto throwing = std::make_shared<ThrowingExtraction>();
    EXPECT_EQ(reader.Extract({0, 1, 2}, throwing), static_cast<HRESULT_t>(0x8007000E)) << "out of memory, not a crash";
    EXPECT_EQ(throwing->results, (std::vector<std::int32_t>{kResultUnsupported})) << "the item in progress hears it failed";
}

TEST_F(BadInput, ExtractWithoutAnOpenArchiveFails) {
    Reader reader;
    EXPECT_EQ(reader.Extract({0}, std::make_shared<MemoryExtraction>()), kFail);
}

}  // namespace
}  // namespace UnRAR::Testing
