// Archives made at test time by real archivers, and opening them through the public ABI.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "archive/Archive.h"
#include "zorvik/ArchiveSource.h"
#include "zorvik/runtime/storage.h"

namespace Zorvik::Testing {

namespace fs = std::filesystem;

// A scratch folder holding a small source tree ("src") and whatever archives a test makes.
class ArchiveFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zorvik-archive-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        setenv("ZORVIK_TEMP", (root_ / "temp").c_str(), 1);
        fs::create_directories(root_ / "src/docs");
        Write("src/readme.txt", "Zorvik test archive\n");
        Write("src/docs/notes.txt", std::string(5000, 'n'));
    }
    void TearDown() override { fs::remove_all(root_); }

    void Write(const std::string& relative, const std::string& content) const {
        std::ofstream(root_ / relative, std::ios::binary) << content;
    }
    // Runs an archiver in the scratch folder; the test fails if it does.
    void Run(const std::string& command) const {
        const std::string line = "cd '" + root_.string() + "' && " + command + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(line.c_str()), 0) << command;
    }
    fs::path Path(const std::string& relative) const { return root_ / relative; }

    fs::path root_;
};

inline std::wstring Extension(const fs::path& path) {
    const std::wstring extension = path.extension().wstring();
    return extension.empty() ? extension : extension.substr(1);
}

inline zorvik::rt::com_ptr<IRandomAccessStream> OpenFile(const fs::path& path) {
    return zorvik::rt::open_file_stream(path.wstring(), ABI::Windows::Storage::FileAccessMode::Read);
}

inline zorvik::rt::com_ptr<archive_source> SourceFor(const fs::path& path, archive_source_hooks hooks = {}) {
    return zorvik::rt::make<archive_source>(Extension(path), path.filename().wstring(), path.wstring(), std::move(hooks));
}

// Opens path with a new Archive; the operation's outcome is raised like any platform failure.
inline bool OpenArchive(IArchive* archive, const fs::path& path, archive_source_hooks hooks = {}) {
    zorvik::rt::com_ptr<IAsyncOperation<bool>> operation;
    zorvik::rt::check_hresult(archive->OpenAsync(OpenFile(path).get(), SourceFor(path, std::move(hooks)).get(), operation.put()));
    return zorvik::rt::get(operation);
}

inline zorvik::rt::com_ptr<IArchive> NewArchive() { return Archive::Create(); }

}  // namespace Zorvik::Testing
