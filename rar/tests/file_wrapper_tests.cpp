// The stream-backed file class the RAR library reads through.
#include "rar/tests/RarTesting.h"

// After the test framework: the library's headers define macros such as Max.
#include "rar.hpp"

namespace UnRAR::Testing {
namespace {

// The exit code a call raises, or -1 when it returns.
template <typename Call>
int ExitCodeOf(Call&& call) {
    try {
        call();
    } catch (RAR_EXIT code) {
        return code;
    }
    return -1;
}

std::string Bytes(std::size_t count) {
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(i * 7);
    return bytes;
}

TEST(FileWrapper, ReadFillsTheBufferFromAStreamThatAnswersInPieces) {
    const std::string data = Bytes(1000);
    File file(std::make_shared<MemoryInput>(data, 3));
    std::string buffer(600, '\0');
    EXPECT_EQ(file.Read(buffer.data(), buffer.size()), 600) << "a short read would pass for a truncated archive";
    EXPECT_EQ(buffer, data.substr(0, 600));
    EXPECT_EQ(file.Read(buffer.data(), buffer.size()), 400) << "only the end of the stream makes it short";
    EXPECT_EQ(file.Read(buffer.data(), buffer.size()), 0);

    auto failing = std::make_shared<MemoryInput>(data);
    failing->FailReads();
    File strict(failing);
    EXPECT_EQ(ExitCodeOf([&] { strict.Read(buffer.data(), 10); }), RARX_FATAL);
    EXPECT_EQ(strict.ErrorType, FILE_READERROR);
    File lenient(failing);
    lenient.SetExceptions(false);
    EXPECT_EQ(lenient.Read(buffer.data(), 10), -1);
}

TEST(FileWrapper, OpenAsksTheCallbackOnlyWhenNoStreamIsHeld) {
    auto volumes = std::make_shared<MemoryVolumes>();
    volumes->volumes[L"a.part2.rar"] = "two";
    File file(std::make_shared<MemoryInput>("one"), volumes);
    ASSERT_TRUE(file.Open(L"a.part1.rar"));
    EXPECT_TRUE(volumes->requests.empty()) << "the first volume's stream is given at construction";
    EXPECT_STREQ(file.FileName, L"a.part1.rar");

    file.Close();
    EXPECT_FALSE(file.Open(L"a.part1.rar")) << "after Close the callback is asked, and it has no such volume";
    ASSERT_TRUE(file.Open(L"a.part2.rar"));
    EXPECT_EQ(volumes->requests, (std::vector<std::wstring>{L"a.part1.rar", L"a.part2.rar"}));
    char read[3] = {};
    EXPECT_EQ(file.Read(read, 3), 3);
    EXPECT_EQ(std::string(read, 3), "two");

    EXPECT_FALSE(file.Open(L"a.part2.rar", FMF_WRITE)) << "nothing is opened for writing";
    File orphan;
    EXPECT_FALSE(orphan.Open(L"x.rar")) << "no callback, no volumes";

    file.Close();
    const std::wstring longName(5000, L'n');
    volumes->volumes[longName] = "long";
    ASSERT_TRUE(file.Open(longName.c_str()));
    EXPECT_EQ(std::wcslen(file.FileName), File::kNameSize - 1);
}

class CancelingVolumes final : public IOpenCallback {
public:
    std::wstring GetArchiveName() override { return {}; }
    HRESULT_t OpenVolume(const std::wstring&, std::shared_ptr<IInputStream>&) override { return static_cast<HRESULT_t>(0x80004004); }
    HRESULT_t GetPassword(wchar_t*) override { return 0; }
};

TEST(FileWrapper, ACancelledVolumeRequestIsAUserBreak) {
    ErrHandler.Clean();
    File file(nullptr, std::make_shared<CancelingVolumes>());
    EXPECT_EQ(ExitCodeOf([&] { file.Open(L"a.part2.rar"); }), RARX_USERBREAK);
    EXPECT_EQ(ErrHandler.GetErrorCode(), RARX_USERBREAK);
    ErrHandler.Clean();
}

TEST(FileWrapper, SeeksAndPositions) {
    File file(std::make_shared<MemoryInput>(Bytes(100)));
    ASSERT_TRUE(file.RawSeek(-16, SEEK_END));
    EXPECT_EQ(file.Tell(), 84);
    ASSERT_TRUE(file.RawSeek(-4, SEEK_CUR));
    EXPECT_EQ(file.Tell(), 80);
    EXPECT_EQ(file.FileLength(), 100);
    EXPECT_EQ(file.Tell(), 80) << "the length is measured without moving";
    EXPECT_EQ(ExitCodeOf([&] { file.Seek(-200, SEEK_END); }), RARX_FATAL);

    File empty;
    EXPECT_TRUE(empty.RawSeek(10, SEEK_SET)) << "nothing to move";
    EXPECT_EQ(ExitCodeOf([&] { empty.Tell(); }), RARX_FATAL);
    empty.SetExceptions(false);
    EXPECT_EQ(empty.Tell(), -1);
}

TEST(FileWrapper, WriteDeliversEverythingOrFails) {
    auto partial = std::make_shared<MemoryOutput>(7);
    File file(nullptr, nullptr, partial);
    const std::string data = Bytes(100);
    EXPECT_TRUE(file.Write(data.data(), data.size()));
    EXPECT_EQ(partial->data, data);

    File stuck(nullptr, nullptr, std::make_shared<MemoryOutput>(0));
    EXPECT_EQ(ExitCodeOf([&] { stuck.Write(data.data(), data.size()); }), RARX_WRITE) << "a stream that takes nothing must not spin";
    stuck.SetExceptions(false);
    EXPECT_FALSE(stuck.Write(data.data(), data.size()));
    ErrHandler.Clean();
}

TEST(FileWrapper, FirstVolumeNamesAreDerivedWithoutASearch) {
    EXPECT_EQ(FirstVolumeName(L"a.part07.rar", true), L"a.part01.rar");
    EXPECT_EQ(FirstVolumeName(L"a.part10.rar", true), L"a.part01.rar");
    EXPECT_EQ(FirstVolumeName(L"dir/a.part3of5.rar", true), L"dir/a.part1of5.rar");
    EXPECT_EQ(FirstVolumeName(L"x.r05", false), L"x.rar");
    EXPECT_EQ(FirstVolumeName(L"name", true), L"name") << "no number to reset";
}

}  // namespace
}  // namespace UnRAR::Testing
