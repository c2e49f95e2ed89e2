// What the fuzz targets share: the component used as an application uses it, through the C++
// projection over in-memory streams, with every question it asks answered so that no run can
// wait for ever.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zorvik/Zorvik.h"

namespace zorvik::fuzz {

// Output each input may decode in all; beyond it the destination refuses to be written, so a
// bomb costs time only up to here. It is well above what any seed holds.
inline constexpr std::uint64_t kOutputLimit = 64u << 20;
// Passwords a run gives (open, extraction and update alike) before it gives up.
inline constexpr int kPasswordAnswers = 3;
inline constexpr std::string_view kPassword = "password";

// The spill files of every run go to one private folder, removed when the process ends.
inline void UsePrivateTemporaryFolder() {
    static const bool done = [] {
        static std::string folder = "/tmp/zorvik-fuzz-XXXXXX";
        if (!::mkdtemp(folder.data())) return false;
        ::setenv("ZORVIK_TEMP", folder.c_str(), 1);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
        return true;
    }();
    (void)done;
}

// A destination that keeps nothing and counts what it is given against a shared budget; past
// the budget writes fail, as a full disk would.
class DiscardStream final : public zorvik::rt::implements<DiscardStream, ABI::Windows::Storage::Streams::IRandomAccessStream,
                                                          ABI::Windows::Storage::Streams::IOutputStream> {
public:
    using IBuffer = ABI::Windows::Storage::Streams::IBuffer;
    using IInputStream = ABI::Windows::Storage::Streams::IInputStream;
    using IOutputStream = ABI::Windows::Storage::Streams::IOutputStream;
    using IRandomAccessStream = ABI::Windows::Storage::Streams::IRandomAccessStream;

    // A Stream over a new one.
    static Stream Over(std::shared_ptr<std::uint64_t> budget) { return Stream(zorvik::rt::make<DiscardStream>(std::move(budget))); }
    explicit DiscardStream(std::shared_ptr<std::uint64_t> budget) : budget_(std::move(budget)) {}

    HRESULT get_Size(std::uint64_t* size) override { return *size = size_, S_OK; }
    HRESULT put_Size(std::uint64_t size) override { return size_ = size, S_OK; }
    HRESULT GetInputStreamAt(std::uint64_t, IInputStream**) override { return E_NOTIMPL; }
    HRESULT GetOutputStreamAt(std::uint64_t, IOutputStream**) override { return E_NOTIMPL; }
    HRESULT get_Position(std::uint64_t* position) override { return *position = position_, S_OK; }
    HRESULT Seek(std::uint64_t position) override { return position_ = position, S_OK; }
    HRESULT CloneStream(IRandomAccessStream**) override { return E_NOTIMPL; }
    HRESULT get_CanRead(bool* value) override { return *value = false, S_OK; }
    HRESULT get_CanWrite(bool* value) override { return *value = true, S_OK; }
    HRESULT WriteAsync(IBuffer* buffer, ABI::Windows::Foundation::IAsyncOperation<std::uint32_t>** operation) override {
        return zorvik::rt::boundary([&] {
            const std::uint32_t length = zorvik::rt::buffer_length(buffer);
            if (length > *budget_) zorvik::rt::throw_hresult(HRESULT(0x80070070));  // disk full
            *budget_ -= length;
            position_ += length;
            size_ = std::max(size_, position_);
            *operation = zorvik::rt::completed_async<std::uint32_t>(length).detach();
        });
    }
    HRESULT FlushAsync(ABI::Windows::Foundation::IAsyncOperation<bool>** operation) override {
        return zorvik::rt::boundary([&] { *operation = zorvik::rt::completed_async<bool>(true).detach(); });
    }

private:
    std::shared_ptr<std::uint64_t> budget_;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
};

// The passwords of one run, shared by its open and what follows: none when not to give one,
// else a few answers, then it gives up.
inline Password Passwords(bool give, std::shared_ptr<int> asked = std::make_shared<int>(0)) {
    if (!give) return {};
    return Password([asked](int) -> std::optional<std::string> {
        if ((*asked)++ >= kPasswordAnswers) return std::nullopt;
        return std::string(kPassword);
    });
}

// Every item of the archive, folders before what they hold, reading each property an
// application shows.
inline std::vector<ArchiveItem> Walk(const Archive& archive) {
    std::vector<ArchiveItem> items;
    for (const ArchiveItem& item : archive.root().descendants()) {
        (void)item.name();
        (void)item.path();
        (void)item.size();
        (void)item.modified();
        items.push_back(item);
    }
    return items;
}

using VolumeHook = std::function<std::optional<Stream>(const std::string& volume_name)>;

// stream opened under name, with its tree built; Error when the component does not open it.
inline Archive Open(const Stream& stream, const std::string& name, const Password& password, VolumeHook volume = {}) {
    UsePrivateTemporaryFolder();
    Archive archive = Archive::open(stream, {.name = name}, {.password = password, .volume = std::move(volume)});
    archive.root();
    return archive;
}

// Opens stream under name, builds the tree and extracts every item into discarding streams.
// Failures of the component are results, not findings: they end the run quietly.
inline void OpenWalkExtract(const Stream& stream, const std::string& name, bool givePassword, VolumeHook volume = {}) {
    const Password password = Passwords(givePassword);
    try {
        const Archive archive = Open(stream, name, password, std::move(volume));
        const std::vector<ArchiveItem> items = Walk(archive);
        if (items.empty()) return;
        auto budget = std::make_shared<std::uint64_t>(kOutputLimit);
        archive.extract(items,
                        {.file = [budget](const ArchiveFile&, const std::string&) { return Sink::into(DiscardStream::Over(budget)); },
                         .password = password,
                         .progress = [budget](std::uint64_t,
                                              std::uint64_t) { return *budget == 0 ? ProgressAnswer::Cancel : ProgressAnswer::Continue; }});
    } catch (const Error&) {
    }
}

}  // namespace zorvik::fuzz
