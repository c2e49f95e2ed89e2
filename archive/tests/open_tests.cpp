#include <atomic>
#include <random>

#include "archive/tests/ArchiveTesting.h"

namespace Zorvik::Testing {
namespace {

using zorvik::rt::com_ptr;

std::wstring FormatName(IArchive* archive) { return static_cast<Archive*>(archive)->Format->Name; }
std::uint64_t PackedSize(IArchive* archive) { return static_cast<Archive*>(archive)->PackedSize; }

using Opening = ArchiveFolderTest;

TEST_F(Opening, EveryCommonFormatOpensAsItself) {
    Run("7z a -bd a.7z src");
    Run("zip -qr a.zip src");
    Run("tar cf a.tar src");
    Run("cp src/readme.txt r.txt && gzip -k r.txt && bzip2 -k r.txt && xz -k r.txt");
    const std::pair<const char*, const wchar_t*> cases[] = {{"a.7z", L"7z"},       {"a.zip", L"zip"},       {"a.tar", L"tar"},
                                                            {"r.txt.gz", L"gzip"}, {"r.txt.bz2", L"bzip2"}, {"r.txt.xz", L"xz"}};
    for (const auto& [file, format] : cases) {
        auto archive = NewArchive();
        ASSERT_TRUE(OpenArchive(archive.get(), Path(file))) << file;
        EXPECT_EQ(FormatName(archive.get()), format) << file;
        EXPECT_EQ(PackedSize(archive.get()), fs::file_size(Path(file))) << file;
        bool canUpdate = false;
        ASSERT_EQ(archive->get_CanUpdate(&canUpdate), S_OK);
        EXPECT_TRUE(canUpdate) << file;
    }
}

TEST_F(Opening, ACompressedTarOpensAsTheTarInside) {
    // xz lends the engine a seekable entry stream; gzip and bzip2 are decoded first.
    Run("tar czf a.tar.gz src && tar cjf a.tar.bz2 src && tar cJf a.tar.xz src");
    for (const char* file : {"a.tar.gz", "a.tar.bz2", "a.tar.xz"}) {
        auto archive = NewArchive();
        ASSERT_TRUE(OpenArchive(archive.get(), Path(file))) << file;
        EXPECT_EQ(FormatName(archive.get()), L"tar") << file;
        EXPECT_EQ(PackedSize(archive.get()), fs::file_size(Path(file))) << file;
        EXPECT_EQ(static_cast<Archive*>(archive.get())->ArchiveName, fs::path(file).wstring());
    }
    EXPECT_TRUE(fs::is_empty(Path("temp"))) << "the decoded tar must not stay in the temporary folder";
}

TEST_F(Opening, AnArchiveStoredInsideAnotherIsContentNotTheArchive) {
    Run("zip -qr inner.zip src && 7z a -bd -mx0 outer.7z inner.zip");
    auto archive = NewArchive();
    ASSERT_TRUE(OpenArchive(archive.get(), Path("outer.7z")));
    EXPECT_EQ(FormatName(archive.get()), L"7z");
}

TEST_F(Opening, ASplitArchiveFetchesFurtherVolumesFromTheCaller) {
    Write("src/big.bin", std::string(300000, 'b') + std::to_string(std::random_device{}()));
    Run("7z a -bd -mx0 -v100k split.7z src");
    ASSERT_TRUE(fs::exists(Path("split.7z.003")));
    std::vector<std::wstring> asked;
    archive_source_hooks hooks;
    hooks.get_volume = [&](std::wstring_view name) {
        asked.emplace_back(name);
        const fs::path volume = Path("") / fs::path(name).filename();
        if (!fs::exists(volume)) return volume_answer::unavailable();
        return volume_answer::given(OpenFile(volume));
    };
    auto archive = NewArchive();
    ASSERT_TRUE(OpenArchive(archive.get(), Path("split.7z.001"), hooks));
    EXPECT_EQ(FormatName(archive.get()), L"7z");
    EXPECT_FALSE(asked.empty());
    std::uint64_t total = 0;
    for (int i = 1; fs::exists(Path("split.7z.00" + std::to_string(i))); ++i)
        total += fs::file_size(Path("split.7z.00" + std::to_string(i)));
    EXPECT_EQ(PackedSize(archive.get()), total);
    EXPECT_TRUE(static_cast<Archive*>(archive.get())->IsMultiVolume);
    bool canUpdate = true;
    ASSERT_EQ(archive->get_CanUpdate(&canUpdate), S_OK);
    EXPECT_FALSE(canUpdate) << "a multi-volume archive cannot be updated";
}

TEST_F(Opening, ADiscImageOpens) {
    if (std::system("command -v xorriso >/dev/null 2>&1") != 0) GTEST_SKIP() << "xorriso is not installed";
    Run("xorriso -as mkisofs -quiet -o disc.iso src");
    auto archive = NewArchive();
    ASSERT_TRUE(OpenArchive(archive.get(), Path("disc.iso")));
    const std::wstring format = FormatName(archive.get());
    EXPECT_TRUE(format == L"Iso" || format == L"Udf") << zorvik::rt::to_utf8(format);
}

class EncryptedHeaders : public ArchiveFolderTest {
protected:
    void SetUp() override {
        ArchiveFolderTest::SetUp();
        Run("7z a -bd -psecret -mhe=on locked.7z src");
    }
    // Opens with the given answers, one per request; returns how many were asked.
    int OpenWith(std::vector<password_answer> answers, bool& opened, HRESULT& failure) {
        int asked = 0;
        archive_source_hooks hooks;
        hooks.request_password = [&] {
            const auto answer = asked < int(answers.size()) ? answers[asked] : password_answer::declined();
            ++asked;
            return answer;
        };
        auto archive = NewArchive();
        failure = S_OK;
        opened = false;
        try {
            opened = OpenArchive(archive.get(), Path("locked.7z"), hooks);
        } catch (const zorvik::rt::hresult_error& error) {
            failure = error.code();
        }
        if (opened) {
            bool hasPassword = false;
            archive->get_HasPassword(&hasPassword);
            EXPECT_TRUE(hasPassword);
        }
        return asked;
    }
};

TEST_F(EncryptedHeaders, TheRightPasswordOpensAndAWrongOneIsAskedAgain) {
    bool opened = false;
    HRESULT failure = S_OK;
    EXPECT_EQ(OpenWith({password_answer::given(L"secret")}, opened, failure), 1);
    EXPECT_TRUE(opened);
    EXPECT_EQ(OpenWith({password_answer::given(L"wrong"), password_answer::given(L"secret")}, opened, failure), 2);
    EXPECT_TRUE(opened);
}

TEST_F(EncryptedHeaders, CancelEndsTheOpenAndDeclineMovesOn) {
    bool opened = true;
    HRESULT failure = S_OK;
    OpenWith({password_answer::canceled()}, opened, failure);
    EXPECT_EQ(failure, E_ABORT);
    OpenWith({password_answer::declined()}, opened, failure);
    EXPECT_EQ(failure, S_OK);
    EXPECT_FALSE(opened);
}

TEST_F(Opening, ASignatureDeepInsideAnUnknownFileIsFound) {
    Run("7z a -bd inner.7z src");
    std::ifstream in(Path("inner.7z"), std::ios::binary);
    const std::string archive((std::istreambuf_iterator<char>(in)), {});
    Write("padded.bin", std::string(1000, '\0') + archive);
    auto opened = NewArchive();
    ASSERT_TRUE(OpenArchive(opened.get(), Path("padded.bin")));
    EXPECT_EQ(FormatName(opened.get()), L"7z");
}

TEST_F(Opening, AMisnamedArchiveOpensByItsSignatureWithoutTryingTheNamedFormatTwice) {
    Run("zip -qr real.zip src && cp real.zip fake.7z");
    std::vector<bool> attempts;
    archive_source_hooks hooks;
    hooks.report_open_attempt = [&](bool opened) { attempts.push_back(opened); };
    auto archive = NewArchive();
    ASSERT_TRUE(OpenArchive(archive.get(), Path("fake.7z"), hooks));
    EXPECT_EQ(FormatName(archive.get()), L"zip");
    EXPECT_EQ(attempts, (std::vector<bool>{false, true}));
}

TEST_F(Opening, RandomBytesAndEmptyStreamsOpenNothing) {
    std::mt19937 random(1);
    std::string noise(70000, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    Write("noise.7z", noise);
    Write("empty.zip", "");
    for (const char* file : {"noise.7z", "empty.zip"}) {
        auto archive = NewArchive();
        EXPECT_FALSE(OpenArchive(archive.get(), Path(file))) << file;
        com_ptr<IAsyncOperation<bool>> closing;
        ASSERT_EQ(archive->CloseAsync(closing.put()), S_OK);
        EXPECT_FALSE(zorvik::rt::get(closing)) << "nothing should be open";
    }
}

TEST_F(Opening, CloseReportsWhetherAnythingWasOpenAndDisposeEndsTheObject) {
    Run("7z a -bd a.7z src");
    auto archive = NewArchive();
    ASSERT_TRUE(OpenArchive(archive.get(), Path("a.7z")));
    com_ptr<IAsyncOperation<bool>> closing;
    ASSERT_EQ(archive->CloseAsync(closing.put()), S_OK);
    EXPECT_TRUE(zorvik::rt::get(closing));
    bool keepsName = true;
    ASSERT_EQ(archive->get_KeepsName(&keepsName), S_OK);
    EXPECT_FALSE(keepsName);
    ASSERT_EQ(archive.as<ABI::Windows::Foundation::IClosable>()->Close(), S_OK);
    EXPECT_EQ(archive->get_KeepsName(&keepsName), RO_E_CLOSED);
}

TEST_F(Opening, OptionsAndCompressorFollowTheOpenedFormat) {
    Run("7z a -bd a.7z src && tar cf a.tar src");
    auto archive = NewArchive();
    ASSERT_TRUE(OpenArchive(archive.get(), Path("a.7z")));
    com_ptr<ICompressorDescription> compressor;
    ASSERT_EQ(archive->get_CompressorDescription(compressor.put()), S_OK);
    ASSERT_TRUE(compressor);
    zorvik::rt::hstring name;
    compressor->get_FormatName(name.put());
    EXPECT_EQ(name, L"7z");
    com_ptr<ICompressionOptions> options;
    ASSERT_EQ(archive->get_CompressionOptions(options.put()), S_OK);
    ASSERT_TRUE(options);
    CompressionMethod method{};
    options->get_CompressionMethod(&method);
    EXPECT_EQ(method, CompressionMethod::LZMA);
    bool hasItemNames = false;
    archive->get_HasItemNames(&hasItemNames);
    EXPECT_TRUE(hasItemNames);
}

}  // namespace
}  // namespace Zorvik::Testing
