// Memory-backed RAR reader streams and callbacks for tests of the file layer and the reader.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "rar/UnRAR.Shared/UnRAR.h"

namespace UnRAR::Testing {

// Reads at most chunk bytes per call, as engine streams may.
class MemoryInput final : public IInputStream {
public:
    explicit MemoryInput(std::string data, std::uint32_t chunk = 0xFFFFFFFF) : data_(std::move(data)), chunk_(chunk) {}
    bool Read(void* buffer, std::uint32_t size, std::uint32_t* processed) override {
        const std::size_t left = position_ < data_.size() ? data_.size() - position_ : 0;
        const std::size_t n = std::min<std::size_t>({size, left, chunk_});
        std::memcpy(buffer, data_.data() + position_, n);
        position_ += n;
        *processed = static_cast<std::uint32_t>(n);
        return !failReads_;
    }
    std::int64_t Tell() override { return static_cast<std::int64_t>(position_); }
    bool Seek(std::int64_t offset, std::int32_t origin) override {
        const std::int64_t base = origin == 0   ? 0
                                  : origin == 1 ? static_cast<std::int64_t>(position_)
                                                : static_cast<std::int64_t>(data_.size());
        if (base + offset < 0) return false;
        position_ = static_cast<std::size_t>(base + offset);
        return true;
    }
    void FailReads() { failReads_ = true; }

private:
    std::string data_;
    std::size_t position_ = 0;
    std::uint32_t chunk_;
    bool failReads_ = false;
};

class MemoryOutput final : public IOutputStream {
public:
    // accepted: how many bytes one Write takes at most (0: none, which is a failure to progress).
    explicit MemoryOutput(std::uint32_t accepted = 0xFFFFFFFF) : accepted_(accepted) {}
    bool Write(const void* buffer, std::uint32_t size, std::uint32_t* processed) override {
        const std::uint32_t n = std::min(size, accepted_);
        data.append(static_cast<const char*>(buffer), n);
        *processed = n;
        return true;
    }
    bool Seek(std::int64_t, std::int32_t) override { return false; }
    std::string data;

private:
    std::uint32_t accepted_;
};

// Volumes by name from a map; records every request.
class MemoryVolumes final : public IOpenCallback {
public:
    std::wstring GetArchiveName() override { return name; }
    HRESULT_t OpenVolume(const std::wstring& volume, std::shared_ptr<IInputStream>& stream) override {
        requests.push_back(volume);
        const auto found = volumes.find(volume);
        if (found == volumes.end()) return 1;
        stream = std::make_shared<MemoryInput>(found->second);
        return 0;
    }
    HRESULT_t GetPassword(wchar_t* buffer) override {
        ++passwordRequests;
        std::wcsncpy(buffer, password.c_str(), kPasswordBufferSize - 1);
        buffer[kPasswordBufferSize - 1] = 0;
        return 0;
    }

    std::wstring name;
    std::map<std::wstring, std::string> volumes;
    std::vector<std::wstring> requests;
    std::wstring password;
    int passwordRequests = 0;
};

// Every output in memory; records results and progress.
class MemoryExtraction final : public IExtractCallback {
public:
    HRESULT_t GetStream(std::uint32_t index, std::shared_ptr<IOutputStream>& stream) override {
        auto output = std::make_shared<MemoryOutput>();
        outputs[index] = output;
        stream = output;
        return 0;
    }
    bool PrepareOperation() override { return ++prepared, true; }
    bool SetOperationResult(std::int32_t result) override { return results.push_back(result), true; }
    bool SetTotal(std::uint64_t value) override { return total = value, true; }
    bool SetCompleted(const std::uint64_t* value) override { return completed = *value, true; }
    HRESULT_t GetPassword(wchar_t* buffer) override {
        std::wcsncpy(buffer, password.c_str(), kPasswordBufferSize - 1);
        buffer[kPasswordBufferSize - 1] = 0;
        return 0;
    }

    std::map<std::uint32_t, std::shared_ptr<MemoryOutput>> outputs;
    std::vector<std::int32_t> results;
    int prepared = 0;
    std::uint64_t total = 0;
    std::uint64_t completed = 0;
    std::wstring password;
};

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A scratch folder to make archives in with rar; tests skip where rar is not installed.
class RarFolder : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("command -v rar >/dev/null 2>&1") != 0) GTEST_SKIP() << "rar is not installed";
        std::string pattern = (std::filesystem::temp_directory_path() / "zorvik-rar-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        std::filesystem::create_directories(root_ / "src");
    }
    void TearDown() override {
        if (!root_.empty()) std::filesystem::remove_all(root_);
    }
    void Write(const std::string& relative, const std::string& content) const {
        std::ofstream(root_ / relative, std::ios::binary) << content;
    }
    // Archives the folder src with rar's options; returns the archive's (first volume's) bytes.
    std::string Make(const std::string& name, const std::string& options) const {
        const std::string line = "cd '" + root_.string() + "' && rar a -idq " + options + " " + name + " src >/dev/null 2>&1";
        EXPECT_EQ(std::system(line.c_str()), 0) << line;
        return ReadBytes((root_ / name).string());
    }

    std::filesystem::path root_;
};

}  // namespace UnRAR::Testing
