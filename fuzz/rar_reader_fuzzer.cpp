// libFuzzer target: the RAR reader's Open and Extract over in-memory streams. The first byte
// picks how many bytes a stream read answers at most, so short reads are covered too.
#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "rar/UnRAR.Shared/UnRAR.h"

namespace {

class Input final : public UnRAR::IInputStream {
public:
    Input(std::string data, std::uint32_t chunk) : data_(std::move(data)), chunk_(chunk) {}
    bool Read(void* buffer, std::uint32_t size, std::uint32_t* processed) override {
        std::size_t n = position_ < data_.size() ? data_.size() - position_ : 0;
        n = std::min<std::size_t>({n, std::size_t{size}, std::size_t{chunk_}});
        std::memcpy(buffer, data_.data() + position_, n);
        position_ += n;
        *processed = static_cast<std::uint32_t>(n);
        return true;
    }
    std::int64_t Tell() override { return static_cast<std::int64_t>(position_); }
    bool Seek(std::int64_t offset, std::int32_t origin) override {
        const std::int64_t base = origin == 0   ? 0
                                  : origin == 1 ? static_cast<std::int64_t>(position_)
                                                : static_cast<std::int64_t>(data_.size());
        if (offset > INT64_MAX / 2 || offset < -(INT64_MAX / 2) || base + offset < 0) return false;
        position_ = static_cast<std::size_t>(base + offset);
        return true;
    }

private:
    std::string data_;
    std::size_t position_ = 0;
    std::uint32_t chunk_;
};

class Discard final : public UnRAR::IOutputStream {
public:
    bool Write(const void*, std::uint32_t size, std::uint32_t* processed) override {
        *processed = size;
        return true;
    }
    bool Seek(std::int64_t, std::int32_t) override { return false; }
};

// The archive under its own name; the rest of the input is a second volume.
class Volumes final : public UnRAR::IOpenCallback {
public:
    Volumes(std::string second, std::uint32_t chunk) : second_(std::move(second)), chunk_(chunk) {}
    std::wstring GetArchiveName() override { return L"f.part1.rar"; }
    UnRAR::HRESULT_t OpenVolume(const std::wstring& name, std::shared_ptr<UnRAR::IInputStream>& stream) override {
        if (name != L"f.part2.rar" || second_.empty()) return 1;
        stream = std::make_shared<Input>(second_, chunk_);
        return 0;
    }
    UnRAR::HRESULT_t GetPassword(wchar_t* buffer) override {
        std::wcscpy(buffer, L"password");
        return 0;
    }

private:
    std::string second_;
    std::uint32_t chunk_;
};

class Extraction final : public UnRAR::IExtractCallback {
public:
    UnRAR::HRESULT_t GetStream(std::uint32_t, std::shared_ptr<UnRAR::IOutputStream>& stream) override {
        stream = std::make_shared<Discard>();
        return 0;
    }
    bool PrepareOperation() override { return true; }
    bool SetOperationResult(std::int32_t) override { return true; }
    bool SetTotal(std::uint64_t) override { return true; }
    bool SetCompleted(const std::uint64_t*) override { return true; }
    UnRAR::HRESULT_t GetPassword(wchar_t* buffer) override {
        std::wcscpy(buffer, L"password");
        return 0;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint32_t chunk = data[0] < 16 ? 1u + data[0] * 97u : 0xFFFFFFFFu;
    std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    // An optional second volume follows a marker.
    std::string second;
    if (const auto marker = input.find("\xff"
                                       "VOLUME2"
                                       "\xff");
        marker != std::string::npos) {
        second = input.substr(marker + 9);
        input.resize(marker);
    }

    UnRAR::Reader reader;
    if (reader.Open(std::make_shared<Input>(input, chunk), std::make_shared<Volumes>(second, chunk)) != 0) return 0;
    std::vector<std::uint32_t> all(reader.ItemCount());
    for (std::uint32_t i = 0; i < all.size(); ++i) all[i] = i;
    reader.Extract(all, std::make_shared<Extraction>());
    // A second run starts from wherever the first left the archive.
    if (!all.empty()) reader.Extract({all.back()}, std::make_shared<Extraction>());
    return 0;
}
