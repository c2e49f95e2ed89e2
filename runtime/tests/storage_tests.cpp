#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <thread>

#include "zorvik/runtime/storage.h"

using namespace zorvik::rt;
using ABI::Windows::Storage::CreationCollisionOption;
using ABI::Windows::Storage::FileAccessMode;
using ABI::Windows::Storage::IStorageFile;
using ABI::Windows::Storage::IStorageFolder;
using ABI::Windows::Storage::Streams::IBuffer;
using ABI::Windows::Storage::Streams::IOutputStream;
using ABI::Windows::Storage::Streams::IRandomAccessStream;
namespace fs = std::filesystem;

namespace {

// Points the temporary folder at a fresh folder and puts the environment back afterwards.
class TemporaryFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/zorvik-storage-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root_ = name;
        saved_temp_ = saved("ZORVIK_TEMP");
        saved_tmpdir_ = saved("TMPDIR");
        setenv("ZORVIK_TEMP", folder_path().c_str(), 1);
    }
    void TearDown() override {
        restore("ZORVIK_TEMP", saved_temp_);
        restore("TMPDIR", saved_tmpdir_);
        fs::remove_all(root_);
    }

    fs::path folder_path() const { return root_ / "temp"; }

    static HRESULT folder_error() {
        com_ptr<ABI::Windows::Storage::IApplicationData> data;
        check_hresult(GetApplicationData(data.put()));
        com_ptr<IStorageFolder> folder;
        return data->get_TemporaryFolder(folder.put());
    }

    static HRESULT create_error(const com_ptr<IStorageFolder>& folder, std::wstring_view name, CreationCollisionOption option) {
        try {
            create_file(folder.get(), name, option);
            return S_OK;
        } catch (const hresult_error& error) {
            return error.code();
        }
    }

    static std::string text_of(const fs::path& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path root_;

private:
    static std::optional<std::string> saved(const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }
    static void restore(const char* name, const std::optional<std::string>& value) {
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }

    std::optional<std::string> saved_temp_, saved_tmpdir_;
};

TEST_F(TemporaryFolder, IsCreatedForItsUserAlone) {
    auto folder = temporary_folder();
    EXPECT_EQ(item_path(folder), to_wide(folder_path().string()));
    EXPECT_EQ(item_name(folder), L"temp");
    struct stat info {};
    ASSERT_EQ(stat(folder_path().c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(info.st_uid, geteuid());

    // Without $ZORVIK_TEMP: zorvik-<uid> under $TMPDIR.
    unsetenv("ZORVIK_TEMP");
    setenv("TMPDIR", (root_.string() + "/").c_str(), 1);
    EXPECT_EQ(item_path(temporary_folder()), to_wide(root_.string() + "/zorvik-" + std::to_string(geteuid())));
}

TEST_F(TemporaryFolder, RefusesAFolderOthersCouldReach) {
    fs::create_directory(folder_path());
    ASSERT_EQ(chmod(folder_path().c_str(), 0755), 0);
    EXPECT_EQ(folder_error(), E_ACCESSDENIED) << "open to others";

    ASSERT_EQ(chmod(folder_path().c_str(), 0700), 0);
    fs::create_directory_symlink(folder_path(), root_ / "link");
    setenv("ZORVIK_TEMP", (root_ / "link").c_str(), 1);
    EXPECT_EQ(folder_error(), E_ACCESSDENIED) << "a symbolic link";

    std::ofstream(root_ / "plain") << "x";
    setenv("ZORVIK_TEMP", (root_ / "plain").c_str(), 1);
    EXPECT_EQ(folder_error(), E_ACCESSDENIED) << "a file";
}

TEST_F(TemporaryFolder, GeneratesUniqueNamesForClashes) {
    auto folder = temporary_folder();
    for (const wchar_t* expected : {L"7zt.tmp", L"7zt (2).tmp", L"7zt (3).tmp"}) {
        auto file = create_file(folder.get(), L"7zt.tmp", CreationCollisionOption::GenerateUniqueName);
        EXPECT_EQ(item_name(file), expected);
        EXPECT_EQ(item_path(file), std::wstring(item_path(folder)) + L"/" + expected);
        EXPECT_TRUE(fs::is_regular_file(folder_path() / to_utf8(expected)));
    }
    create_file(folder.get(), L"notes", CreationCollisionOption::GenerateUniqueName);
    EXPECT_EQ(item_name(create_file(folder.get(), L"notes", CreationCollisionOption::GenerateUniqueName)), L"notes (2)");
}

TEST_F(TemporaryFolder, UniqueNamesHoldBetweenThreads) {
    auto folder = temporary_folder();
    constexpr int kThreads = 16;
    std::vector<std::wstring> names(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            names[i] = std::wstring(item_name(create_file(folder.get(), L"7zt.tmp", CreationCollisionOption::GenerateUniqueName)));
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(std::set<std::wstring>(names.begin(), names.end()).size(), std::size_t{kThreads});
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_path()), fs::directory_iterator()), kThreads);
}

TEST_F(TemporaryFolder, HonoursTheOtherCollisionOptions) {
    auto folder = temporary_folder();
    std::ofstream(folder_path() / "kept.txt") << "kept";
    EXPECT_EQ(create_error(folder, L"kept.txt", CreationCollisionOption::FailIfExists), HRESULT_FROM_WIN32(183));
    EXPECT_EQ(item_name(create_file(folder.get(), L"kept.txt", CreationCollisionOption::OpenIfExists)), L"kept.txt");
    EXPECT_EQ(text_of(folder_path() / "kept.txt"), "kept");
    create_file(folder.get(), L"kept.txt", CreationCollisionOption::ReplaceExisting);
    EXPECT_EQ(text_of(folder_path() / "kept.txt"), "");
    EXPECT_EQ(create_error(folder, L"fresh.txt", CreationCollisionOption::FailIfExists), S_OK);

    // A symbolic link planted in the folder is never followed.
    std::ofstream(root_ / "outside") << "outside";
    fs::create_symlink(root_ / "outside", folder_path() / "planted");
    EXPECT_EQ(create_error(folder, L"planted", CreationCollisionOption::ReplaceExisting), E_ACCESSDENIED);
    EXPECT_EQ(create_error(folder, L"planted", CreationCollisionOption::OpenIfExists), E_ACCESSDENIED);
    EXPECT_EQ(text_of(root_ / "outside"), "outside");
}

TEST_F(TemporaryFolder, RefusesNamesThatLeaveTheFolder) {
    auto folder = temporary_folder();
    for (std::wstring_view name : {L"../x", L"a/b", L"..", L".", L"", L"a\\b", L"/etc/x"}) {
        com_ptr<ABI::Windows::Foundation::IAsyncOperation<IStorageFile*>> creation;
        EXPECT_EQ(folder->CreateFileAsync(hstring(name).get(), CreationCollisionOption::ReplaceExisting, creation.put()), E_INVALIDARG)
            << to_utf8(name);
        EXPECT_FALSE(creation);
    }
    const wchar_t with_nul[] = {L'x', L'\0', L'y'};
    EXPECT_EQ(create_error(folder, std::wstring_view(with_nul, 3), CreationCollisionOption::ReplaceExisting), E_INVALIDARG);
    EXPECT_FALSE(fs::exists(root_ / "x"));
    EXPECT_TRUE(fs::is_empty(folder_path()));
}

TEST_F(TemporaryFolder, OpensItsFilesAsStreams) {
    auto file = create_file(temporary_folder().get(), L"7zt.tmp", CreationCollisionOption::GenerateUniqueName);
    {
        auto stream = open_stream(file.get(), FileAccessMode::ReadWrite);
        auto buffer = create_buffer(5);
        std::memcpy(buffer_data(buffer.get()), "hello", 5);
        check_hresult(buffer->put_Length(5));
        com_ptr<ABI::Windows::Foundation::IAsyncOperation<std::uint32_t>> writing;
        check_hresult(stream.as<IOutputStream>()->WriteAsync(buffer.get(), writing.put()));
        EXPECT_EQ(get(writing), 5u);
    }
    EXPECT_EQ(text_of(folder_path() / "7zt.tmp"), "hello");
    auto reader = open_stream(file.get(), FileAccessMode::Read);
    bool can_write = true;
    ASSERT_EQ(reader->get_CanWrite(&can_write), S_OK);
    EXPECT_FALSE(can_write);
    com_ptr<ABI::Windows::Foundation::IAsyncOperation<IRandomAccessStream*>> opening;
    EXPECT_EQ(file->OpenAsync(7, opening.put()), E_INVALIDARG);
}

}  // namespace
