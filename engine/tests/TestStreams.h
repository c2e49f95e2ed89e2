// Engine streams over memory, and a temporary folder for spill files, for the engine tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/EngineInterfaces.h"
#include "zorvik/runtime/implements.h"

namespace Zorvik::Engine::Testing {

// The engine's seek over a memory block of the given size.
inline HRESULT SeekIn(std::size_t size, std::size_t& position, std::int64_t offset, std::uint32_t origin, std::uint64_t* newPosition) {
    const std::int64_t base = origin == 0 ? 0 : origin == 1 ? std::int64_t(position) : std::int64_t(size);
    if (origin > 2 || base + offset < 0) return E_INVALIDARG;
    position = static_cast<std::size_t>(base + offset);
    if (newPosition) *newPosition = position;
    return S_OK;
}

class MemoryInStream final : public zorvik::rt::implements<MemoryInStream, IInStream> {
public:
    explicit MemoryInStream(std::string data) : data_(std::move(data)) {}
    HRESULT Read(void* data, std::uint32_t size, std::uint32_t* processed) override {
        const std::size_t n = position_ < data_.size() ? std::min<std::size_t>(size, data_.size() - position_) : 0;
        std::memcpy(data, data_.data() + position_, n);
        position_ += n;
        if (processed) *processed = static_cast<std::uint32_t>(n);
        return S_OK;
    }
    HRESULT Seek(std::int64_t offset, std::uint32_t origin, std::uint64_t* newPosition) override {
        return SeekIn(data_.size(), position_, offset, origin, newPosition);
    }
    bool AtEnd() const { return position_ >= data_.size(); }

private:
    std::string data_;
    std::size_t position_ = 0;
};

class MemoryOutStream final : public zorvik::rt::implements<MemoryOutStream, IOutStream> {
public:
    HRESULT Write(const void* data, std::uint32_t size, std::uint32_t* processed) override {
        if (data_.size() < position_ + size) data_.resize(position_ + size);
        std::memcpy(data_.data() + position_, data, size);
        position_ += size;
        if (processed) *processed = size;
        return S_OK;
    }
    HRESULT Seek(std::int64_t offset, std::uint32_t origin, std::uint64_t* newPosition) override {
        return SeekIn(data_.size(), position_, offset, origin, newPosition);
    }
    HRESULT SetSize(std::uint64_t size) override {
        data_.resize(size);
        return S_OK;
    }
    const std::string& Data() const { return data_; }

private:
    std::string data_;
    std::size_t position_ = 0;
};

// Points the application's temporary folder at a fresh folder for the test's lifetime.
class TemporaryFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "zorvik-engine-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = std::filesystem::path(pattern) / "temp";
        setenv("ZORVIK_TEMP", folder_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("ZORVIK_TEMP");
        std::filesystem::remove_all(folder_.parent_path());
    }
    // Names of the spill files present now.
    std::vector<std::string> SpillFiles() const {
        std::vector<std::string> names;
        if (!std::filesystem::exists(folder_)) return names;
        for (const auto& entry : std::filesystem::directory_iterator(folder_)) names.push_back(entry.path().filename().string());
        return names;
    }

    std::filesystem::path folder_;
};

}  // namespace Zorvik::Engine::Testing
