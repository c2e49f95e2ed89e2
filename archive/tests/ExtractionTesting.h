// Extracting real archives in tests: a callback that records what the caller hears, destination
// streams that count whether the component still holds them, and a fixture with a small tree.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "archive/Extraction.h"
#include "archive/tests/ArchiveTesting.h"
#include "model/tests/TreeTesting.h"
#include "zorvik/ExtractionCallback.h"
#include "zorvik/runtime/streams.h"

namespace Zorvik::Testing {

using ABI::Windows::Foundation::AsyncStatus;
using ABI::Windows::Storage::Streams::IBuffer;
using ABI::Windows::Storage::Streams::IInputStream;
using ABI::Windows::Storage::Streams::InputStreamOptions;
using ABI::Windows::Storage::Streams::IOutputStream;

inline std::string Contents(IRandomAccessStream* stream) {
    std::uint64_t size = 0;
    zorvik::rt::check_hresult(stream->get_Size(&size));
    if (size == 0) return {};
    com_ptr<IInputStream> input;
    zorvik::rt::check_hresult(stream->GetInputStreamAt(0, input.put()));
    auto buffer = zorvik::rt::create_buffer(static_cast<std::uint32_t>(size));
    com_ptr<IAsyncOperation<IBuffer*>> read;
    zorvik::rt::check_hresult(input->ReadAsync(buffer.get(), static_cast<std::uint32_t>(size), InputStreamOptions::None, read.put()));
    zorvik::rt::get(read);
    return {reinterpret_cast<const char*>(zorvik::rt::buffer_data(buffer.get())), zorvik::rt::buffer_length(buffer.get())};
}

inline std::string Utf8(std::wstring_view text) { return zorvik::rt::to_utf8(text); }

inline std::vector<std::string> Sorted(std::vector<std::string> paths) {
    std::sort(paths.begin(), paths.end());
    return paths;
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline std::string NameOfItem(IArchiveItem* item) {
    zorvik::rt::hstring name;
    zorvik::rt::check_hresult(item->get_Name(name.put()));
    return Utf8(name.view());
}

// Passes IRandomAccessStream to an inner stream; Derived adds the interfaces it changes.
template <typename Derived, typename... More>
class ForwardingStream : public zorvik::rt::implements<Derived, IRandomAccessStream, More...> {
public:
    explicit ForwardingStream(com_ptr<IRandomAccessStream> inner) : inner_(std::move(inner)) {}

    HRESULT get_Size(std::uint64_t* size) override { return inner_->get_Size(size); }
    HRESULT put_Size(std::uint64_t size) override { return inner_->put_Size(size); }
    HRESULT GetInputStreamAt(std::uint64_t position, IInputStream** stream) override { return inner_->GetInputStreamAt(position, stream); }
    HRESULT GetOutputStreamAt(std::uint64_t position, IOutputStream** stream) override {
        return inner_->GetOutputStreamAt(position, stream);
    }
    HRESULT get_Position(std::uint64_t* position) override { return inner_->get_Position(position); }
    HRESULT Seek(std::uint64_t position) override { return inner_->Seek(position); }
    HRESULT CloneStream(IRandomAccessStream** stream) override { return inner_->CloneStream(stream); }
    HRESULT get_CanRead(bool* value) override { return inner_->get_CanRead(value); }
    HRESULT get_CanWrite(bool* value) override { return inner_->get_CanWrite(value); }

protected:
    com_ptr<IRandomAccessStream> inner_;
};

// A destination stream that passes everything to another one and counts, while it lives, in a
// shared counter: once the component has let go of every stream it was given, the count is 0.
class TrackedStream final : public ForwardingStream<TrackedStream, IOutputStream> {
public:
    TrackedStream(com_ptr<IRandomAccessStream> inner, std::shared_ptr<std::atomic<int>> live)
        : ForwardingStream(std::move(inner)), output_(inner_.as<IOutputStream>()), live_(std::move(live)) {
        ++*live_;
    }
    ~TrackedStream() override { --*live_; }

    HRESULT WriteAsync(IBuffer* buffer, IAsyncOperation<std::uint32_t>** operation) override {
        return output_->WriteAsync(buffer, operation);
    }
    HRESULT FlushAsync(IAsyncOperation<bool>** operation) override { return output_->FlushAsync(operation); }

private:
    com_ptr<IOutputStream> output_;
    std::shared_ptr<std::atomic<int>> live_;
};

// What the caller heard, by path. Files go into memory streams, or into files below
// outputFolder when it is set; either way the component gets them as tracked streams.
struct Heard {
    std::uint32_t itemCount = 0;
    std::vector<std::string> fileRequests;
    std::vector<std::string> folders;
    std::map<std::string, com_ptr<IRandomAccessStream>> files;
    std::vector<std::pair<std::string, bool>> completed;
    std::vector<std::pair<std::string, std::int32_t>> failed;
    std::vector<bool> passwordItemGiven;
    std::uint64_t total = 0;
    fs::path outputFolder;
    int streamsHandedOut = 0;
    std::shared_ptr<std::atomic<int>> streamsHeld = std::make_shared<std::atomic<int>>(0);

    // A new destination for path, handed to the component tracked.
    com_ptr<IRandomAccessStream> Destination(const std::string& path) {
        com_ptr<IRandomAccessStream> inner;
        if (outputFolder.empty()) {
            inner = zorvik::rt::make_in_memory_stream();
        } else {
            const fs::path file = OnDisk(path);
            fs::create_directories(file.parent_path());
            inner = zorvik::rt::open_file_stream(file.wstring(), ABI::Windows::Storage::FileAccessMode::ReadWrite,
                                                 ABI::Windows::Storage::FileCreationDisposition::CreateAlways);
        }
        files[path] = outputFolder.empty() ? inner : nullptr;
        ++streamsHandedOut;
        return zorvik::rt::make<TrackedStream>(std::move(inner), streamsHeld);
    }

    std::string Content(const std::string& path) {
        const auto found = files.find(path);
        if (found == files.end()) return "<missing>";
        return found->second ? Contents(found->second.get()) : ReadFile(OnDisk(path));
    }

    bool Succeeded(const std::string& name) const {
        return std::find(completed.begin(), completed.end(), std::pair{name, true}) != completed.end();
    }

private:
    fs::path OnDisk(const std::string& path) const { return outputFolder / path; }
};

// Whether the caller was ever called by two threads at once, and by which threads. Its counter
// is relaxed, so that it orders nothing: a race between calls stays visible to TSan.
struct CallWatch {
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::vector<std::thread::id> threads;  // written in the calls, as the caller's own state is

    struct Call {
        CallWatch* watch;
        explicit Call(CallWatch* watched) : watch(watched) {
            if (!watch) return;
            if (watch->inside.fetch_add(1, std::memory_order_relaxed) != 0) watch->overlapped.store(true, std::memory_order_relaxed);
            if (std::find(watch->threads.begin(), watch->threads.end(), std::this_thread::get_id()) == watch->threads.end())
                watch->threads.push_back(std::this_thread::get_id());
        }
        ~Call() {
            if (watch) watch->inside.fetch_sub(1, std::memory_order_relaxed);
        }
    };
};

// Records everything; each answer can be changed through the hooks given. Every call is watched
// when a watch is given.
inline com_ptr<extraction_callback> Recorder(Heard& heard, extraction_callback_hooks overrides = {}, CallWatch* watch = nullptr) {
    using Call = CallWatch::Call;
    extraction_callback_hooks hooks;
    hooks.set_item_count = [&heard, watch](std::uint32_t count) {
        const Call call(watch);
        heard.itemCount = count;
    };
    hooks.set_total = [&heard, watch, answer = overrides.set_total](std::uint64_t total) {
        const Call call(watch);
        heard.total = total;
        return answer ? answer(total) : 0;
    };
    hooks.set_completed = [watch, answer = overrides.set_completed](std::uint64_t completed) {
        const Call call(watch);
        return answer ? answer(completed) : 0;
    };
    hooks.get_file_stream = [&heard, watch, choose = overrides.get_file_stream](IArchiveItem* item, std::wstring_view path) {
        const Call call(watch);
        const std::string key = Utf8(path);
        heard.fileRequests.push_back(key);
        if (choose) return choose(item, path);
        return file_stream_answer::into(heard.Destination(key));
    };
    hooks.create_folder = [&heard, watch](IArchiveItem*, std::wstring_view path) {
        const Call call(watch);
        heard.folders.push_back(Utf8(path));
    };
    hooks.item_completed = [&heard, watch](IArchiveItem* item, bool succeeded) {
        const Call call(watch);
        heard.completed.emplace_back(NameOfItem(item), succeeded);
    };
    hooks.item_failed = [&heard, watch, answer = overrides.item_failed](IArchiveItem* item, std::int32_t kind) {
        const Call call(watch);
        heard.failed.emplace_back(NameOfItem(item), kind);
        return answer ? answer(item, kind) : 0;
    };
    hooks.get_password = [&heard, watch, answer = overrides.get_password](IArchiveItem* item) {
        const Call call(watch);
        heard.passwordItemGiven.push_back(item != nullptr);
        return answer ? answer(item) : password_answer::declined();
    };
    return make_extraction_callback(std::move(hooks));
}

// The operation body on a pool thread, as ExtractAsync runs it.
inline com_ptr<IAsyncOperation<bool>> StartExtract(const com_ptr<IArchive>& archive, std::vector<com_ptr<IArchiveItem>> items,
                                                   com_ptr<IExtractionCallback> callback) {
    return zorvik::rt::run_async<bool>([archive, items = std::move(items), callback]() mutable {
        return Impl::Extract(*static_cast<Archive*>(archive.get()), std::move(items), std::move(callback));
    });
}

// The whole archive on up to threads threads, however small the extraction.
inline com_ptr<IAsyncOperation<bool>> StartSpreadExtract(const com_ptr<IArchive>& archive, std::vector<com_ptr<IArchiveItem>> items,
                                                         com_ptr<IExtractionCallback> callback, std::uint32_t threads) {
    Impl::RunLimits limits;
    limits.Threads = threads;
    limits.LeastWork = 0;
    limits.OpenWorkPerArchiveEntry = 0;
    limits.TurnWorkPerEntry = 0;
    return zorvik::rt::run_async<bool>(
        [archive, items = std::move(items), callback, limits](const zorvik::rt::cancellation_token& cancellation) mutable {
            return Impl::Extract(*static_cast<Archive*>(archive.get()), std::move(items), std::move(callback), cancellation, limits);
        });
}

// Through the public member.
inline com_ptr<IAsyncOperation<bool>> ExtractAsync(IArchive* archive, std::vector<com_ptr<IArchiveItem>> items,
                                                   IExtractionCallback* callback) {
    std::vector<IArchiveItem*> raw;
    for (const auto& item : items) raw.push_back(item.get());
    com_ptr<IAsyncOperation<bool>> operation;
    zorvik::rt::check_hresult(archive->ExtractAsync(static_cast<std::uint32_t>(raw.size()), raw.data(), callback, operation.put()));
    return operation;
}

template <typename I>
com_ptr<IArchiveItem> Item(const com_ptr<I>& node) {
    return node.template as<IArchiveItem>();
}

inline HRESULT ErrorOf(ABI::Windows::Foundation::IAsyncInfo* info) {
    HRESULT code = S_OK;
    zorvik::rt::check_hresult(info->get_ErrorCode(&code));
    return code;
}

// How the operation ended. A hang is a fault of its own; waiting on would only hide it, and the
// work still running references the test's state, so the process stops here.
template <typename Operation>
AsyncStatus EndOf(const com_ptr<Operation>& operation, std::chrono::seconds limit = std::chrono::seconds(120)) {
    const auto info = operation.template as<ABI::Windows::Foundation::IAsyncInfo>();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    AsyncStatus status = AsyncStatus::Started;
    while (zorvik::rt::check_hresult(info->get_Status(&status)), status == AsyncStatus::Started) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "operation still running after %lld s\n", static_cast<long long>(limit.count()));
            std::abort();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return status;
}

// Source files of every test archive: a nested tree with an empty file, an empty folder and
// 700 KB of incompressible bytes.
class Extraction : public ArchiveFolderTest {
protected:
    static constexpr const char* kTreeFiles[] = {"tree/a/b.txt", "tree/a/c/d.txt", "tree/noise.bin", "tree/zero.txt"};

    void SetUp() override {
        ArchiveFolderTest::SetUp();
        fs::create_directories(Path("tree/a/c"));
        fs::create_directories(Path("tree/empty"));
        Write("tree/a/b.txt", "bee\n");
        Write("tree/a/c/d.txt", std::string(3000, 'd'));
        std::string noise(700000, '\0');
        std::uint32_t state = 12345;
        for (char& c : noise) c = static_cast<char>((state = state * 1103515245 + 12345) >> 24);
        Write("tree/noise.bin", noise);
        Write("tree/zero.txt", "");
    }

    com_ptr<IArchive> Opened(const std::string& file) {
        auto archive = NewArchive();
        EXPECT_TRUE(OpenArchive(archive.get(), Path(file))) << file;
        return archive;
    }

    bool Extract(const com_ptr<IArchive>& archive, std::vector<com_ptr<IArchiveItem>> items, Heard& heard,
                 extraction_callback_hooks overrides = {}) {
        return zorvik::rt::get(StartExtract(archive, std::move(items), Recorder(heard, std::move(overrides))));
    }

    std::string OnDisk(const std::string& relative) const { return ReadFile(Path(relative)); }

    // The key under which an extraction of the root hears a source file: its path.
    static std::string KeyOf(std::string path) { return path; }
};

}  // namespace Zorvik::Testing
