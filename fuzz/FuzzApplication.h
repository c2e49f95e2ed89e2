// What the fuzz targets share: the component used as an application uses it, over in-memory
// streams, with every question it asks answered so that no run can wait for ever.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/reading/Component.h"
#include "zorvik/ArchiveSource.h"
#include "zorvik/ExtractionCallback.h"
#include "zorvik/Items.h"
#include "zorvik/runtime/async.h"
#include "zorvik/runtime/streams.h"

namespace Zorvik::Fuzz {

using ABI::Windows::Foundation::IAsyncOperation;
using ABI::Windows::Storage::Streams::IBuffer;
using ABI::Windows::Storage::Streams::IInputStream;
using ABI::Windows::Storage::Streams::IOutputStream;
using ABI::Windows::Storage::Streams::IRandomAccessStream;
using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;

// Output each input may decode in all; beyond it the destination refuses to be written, so a
// bomb costs time only up to here. It is well above what any seed holds.
inline constexpr std::uint64_t kOutputLimit = 64u << 20;
// Passwords a run gives (open and extraction alike) before it cancels.
inline constexpr int kPasswordAnswers = 3;
inline constexpr std::wstring_view kPassword = L"password";

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

// The platform's in-memory stream holding data, positioned at its start.
inline com_ptr<IRandomAccessStream> MemoryStream(std::string_view data) {
    auto stream = zorvik::rt::make_in_memory_stream();
    if (!data.empty()) {
        auto buffer = zorvik::rt::create_buffer(static_cast<std::uint32_t>(data.size()));
        std::copy(data.begin(), data.end(), zorvik::rt::buffer_data(buffer.get()));
        check_hresult(buffer->put_Length(static_cast<std::uint32_t>(data.size())));
        com_ptr<IAsyncOperation<std::uint32_t>> write;
        check_hresult(stream.as<IOutputStream>()->WriteAsync(buffer.get(), write.put()));
        zorvik::rt::get(write);
        check_hresult(stream->Seek(0));
    }
    return stream;
}

// A destination that keeps nothing and counts what it is given against a shared budget; past
// the budget writes fail, as a full disk would.
class DiscardStream final : public zorvik::rt::implements<DiscardStream, IRandomAccessStream, IOutputStream> {
public:
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
    HRESULT WriteAsync(IBuffer* buffer, IAsyncOperation<std::uint32_t>** operation) override {
        return zorvik::rt::boundary([&] {
            const std::uint32_t length = zorvik::rt::buffer_length(buffer);
            if (length > *budget_) zorvik::rt::throw_hresult(HRESULT(0x80070070));  // disk full
            *budget_ -= length;
            position_ += length;
            size_ = std::max(size_, position_);
            *operation = zorvik::rt::completed_async<std::uint32_t>(length).detach();
        });
    }
    HRESULT FlushAsync(IAsyncOperation<bool>** operation) override {
        return zorvik::rt::boundary([&] { *operation = zorvik::rt::completed_async<bool>(true).detach(); });
    }

private:
    std::shared_ptr<std::uint64_t> budget_;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
};

// Password answers shared by the open and the extraction of one run: a few, then cancel.
inline password_answer AnswerPassword(bool givePassword, const std::shared_ptr<int>& asked) {
    if (!givePassword) return password_answer::declined();
    if ((*asked)++ >= kPasswordAnswers) return password_answer::canceled();
    return password_answer::given(std::wstring(kPassword));
}

// Every item below folder, folders first, walking each property an application shows.
inline void Walk(IArchiveFolder* folder, std::vector<com_ptr<IArchiveItem>>& items, int depth = 0) {
    com_ptr<ABI::Windows::Foundation::Collections::IObservableVector<IArchiveItem*>> children;
    check_hresult(folder->get_Items(children.put()));
    std::uint32_t count = 0;
    check_hresult(children.as<ABI::Windows::Foundation::Collections::IVector<IArchiveItem*>>()->get_Size(&count));
    for (std::uint32_t i = 0; i < count; ++i) {
        com_ptr<IArchiveItem> item;
        check_hresult(children.as<ABI::Windows::Foundation::Collections::IVector<IArchiveItem*>>()->GetAt(i, item.put()));
        zorvik::rt::hstring name, path;
        check_hresult(item->get_Name(name.put()));
        check_hresult(item->get_Path(path.put()));
        com_ptr<IArchiveEntryProperties> properties;
        check_hresult(item->get_Properties(properties.put()));
        auto fileSystem = properties.as<IFileSystemProperties>();
        std::uint64_t size = 0;
        DateTime modified{};
        bool isFolder = false;
        check_hresult(fileSystem->get_Size(&size));
        check_hresult(fileSystem->get_DateModified(&modified));
        check_hresult(fileSystem->get_IsFolder(&isFolder));
        items.push_back(item);
        if (auto sub = item.try_as<IArchiveFolder>(); sub && depth < 64) Walk(sub.get(), items, depth + 1);
    }
}

// An archive opened as an application opens it, with its tree built.
struct OpenedArchive {
    com_ptr<IArchive> archive;
    com_ptr<IArchiveFolder> root;
};

// Opens stream under name and builds the tree; empty when the component does not open it. asked
// counts the passwords given, shared with what the run asks later. getVolume answers volume
// requests (none: unavailable).
inline OpenedArchive Open(com_ptr<IRandomAccessStream> stream, const std::wstring& name, bool givePassword,
                          const std::shared_ptr<int>& asked, std::function<volume_answer(std::wstring_view)> getVolume = nullptr) {
    UsePrivateTemporaryFolder();
    archive_source_hooks hooks;
    hooks.request_password = [givePassword, asked] { return AnswerPassword(givePassword, asked); };
    hooks.get_volume = std::move(getVolume);
    const auto source = make_archive_source(name, std::move(hooks));
    OpenedArchive opened{Cli::NewArchive(), nullptr};
    com_ptr<IAsyncOperation<bool>> opening;
    check_hresult(opened.archive->OpenAsync(stream.get(), source.get(), opening.put()));
    if (!zorvik::rt::get(opening)) return {};
    com_ptr<IAsyncOperation<IArchiveFolder*>> building;
    check_hresult(opened.archive->GetRootFolderAsync(nullptr, building.put()));
    opened.root = zorvik::rt::get(building);
    return opened;
}

// Opens stream under name, builds the tree and extracts every item into discarding streams.
// Failures of the component are results, not findings: they end the run quietly.
inline void OpenWalkExtract(com_ptr<IRandomAccessStream> stream, const std::wstring& name, bool givePassword,
                            std::function<volume_answer(std::wstring_view)> getVolume = nullptr) {
    auto asked = std::make_shared<int>(0);
    try {
        const OpenedArchive opened = Open(std::move(stream), name, givePassword, asked, std::move(getVolume));
        if (!opened.root) return;
        std::vector<com_ptr<IArchiveItem>> items;
        Walk(opened.root.get(), items);
        if (items.empty()) return;

        auto budget = std::make_shared<std::uint64_t>(kOutputLimit);
        const auto callback = make_extraction_callback({
            .get_file_stream = [budget](IArchiveItem*,
                                        std::wstring_view) { return file_stream_answer::into(zorvik::rt::make<DiscardStream>(budget)); },
            .get_password = [givePassword, asked](IArchiveItem*) { return AnswerPassword(givePassword, asked); },
            .set_completed = [budget](std::uint64_t) { return *budget == 0 ? ExtractionAnswer::Cancel : ExtractionAnswer::Continue; },
        });
        std::vector<IArchiveItem*> raw;
        for (const auto& item : items) raw.push_back(item.get());
        com_ptr<IAsyncOperation<bool>> extraction;
        check_hresult(opened.archive->ExtractAsync(static_cast<std::uint32_t>(raw.size()), raw.data(), callback.get(), extraction.put()));
        zorvik::rt::get(extraction);
    } catch (const zorvik::rt::hresult_error&) {
    }
}

}  // namespace Zorvik::Fuzz
