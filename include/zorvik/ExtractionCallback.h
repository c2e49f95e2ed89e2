// A ready-made extraction callback for applications and tests: IExtractionCallback,
// IExtractionPasswordProvider and IOperationProgress answered by optional hooks. A hook that
// throws answers the component with the exception's HRESULT, which ends the extraction.
//
//   auto callback = Zorvik::make_extraction_callback({
//       .get_file_stream = [&](IArchiveItem*, std::wstring_view path) {
//           return Zorvik::file_stream_answer::into(OpenDestination(path));
//       },
//   });
//   archive->ExtractAsync(count, items, callback.get(), operation.put());
#pragma once

#include <functional>
#include <string_view>
#include <utility>

#include "zorvik/ArchiveSource.h"
#include "zorvik/Extraction.h"
#include "zorvik/ProgressHooks.h"

namespace Zorvik {

// Answer to GetFileStream: extract into a stream (null skips), cancel, or skip.
struct file_stream_answer {
    std::int32_t status = ExtractionAnswer::Skip;
    zorvik::rt::com_ptr<IRandomAccessStream> stream;

    static file_stream_answer into(zorvik::rt::com_ptr<IRandomAccessStream> stream) {
        return {ExtractionAnswer::Continue, std::move(stream)};
    }
    static file_stream_answer canceled() { return {ExtractionAnswer::Cancel, {}}; }
    static file_stream_answer skipped() { return {ExtractionAnswer::Skip, {}}; }
};

// Every hook is optional: without one, files are skipped, folders and results go unheard,
// failures and progress let the extraction go on, and passwords are declined.
struct extraction_callback_hooks {
    std::function<file_stream_answer(IArchiveItem* item, std::wstring_view path)> get_file_stream;
    std::function<void(IArchiveItem* item, std::wstring_view path)> create_folder;
    std::function<void(IArchiveItem* item, bool succeeded)> item_completed;
    std::function<std::int32_t(IArchiveItem* item, std::int32_t kind)> item_failed;
    std::function<password_answer(IArchiveItem* item)> get_password;
    std::function<void(std::uint32_t count)> set_item_count;
    std::function<std::int32_t(std::uint64_t total)> set_total;
    std::function<std::int32_t(std::uint64_t completed)> set_completed;
};

class extraction_callback final
    : public zorvik::rt::implements<extraction_callback, IExtractionCallback, IExtractionPasswordProvider, IOperationProgress> {
public:
    explicit extraction_callback(extraction_callback_hooks hooks) : hooks_(std::move(hooks)) {}

    HRESULT GetFileStream(IArchiveItem* item, HSTRING path, IRandomAccessStream** stream, std::int32_t* answer) override {
        if (!stream || !answer) return E_POINTER;
        *stream = nullptr;
        return zorvik::rt::boundary([&] {
            file_stream_answer result =
                hooks_.get_file_stream ? hooks_.get_file_stream(item, view_of(path)) : file_stream_answer::skipped();
            *stream = result.stream.detach();
            *answer = result.status;
        });
    }

    HRESULT CreateFolder(IArchiveItem* item, HSTRING path, std::int32_t* answer) override {
        if (!answer) return E_POINTER;
        *answer = ExtractionAnswer::Continue;
        return zorvik::rt::boundary([&] {
            if (hooks_.create_folder) hooks_.create_folder(item, view_of(path));
        });
    }

    HRESULT ItemCompleted(IArchiveItem* item, bool succeeded) override {
        return zorvik::rt::boundary([&] {
            if (hooks_.item_completed) hooks_.item_completed(item, succeeded);
        });
    }

    HRESULT ItemFailed(IArchiveItem* item, std::int32_t kind, std::int32_t* answer) override {
        if (!answer) return E_POINTER;
        return zorvik::rt::boundary([&] { *answer = hooks_.item_failed ? hooks_.item_failed(item, kind) : ExtractionAnswer::Continue; });
    }

    HRESULT GetPassword(IArchiveItem* item, HSTRING* password, std::int32_t* answer) override {
        if (!password || !answer) return E_POINTER;
        *password = nullptr;
        return zorvik::rt::boundary([&] {
            const password_answer result = hooks_.get_password ? hooks_.get_password(item) : password_answer::declined();
            *password = zorvik::rt::hstring(result.password).detach();
            *answer = result.status;
        });
    }

    HRESULT SetItemCount(std::uint32_t count) override { return detail::report_item_count(hooks_.set_item_count, count); }
    HRESULT SetTotal(std::uint64_t total, std::int32_t* answer) override {
        return detail::report_progress(hooks_.set_total, total, answer);
    }
    HRESULT SetCompleted(std::uint64_t completed, std::int32_t* answer) override {
        return detail::report_progress(hooks_.set_completed, completed, answer);
    }

private:
    static std::wstring_view view_of(HSTRING text) noexcept {
        std::uint32_t length = 0;
        const wchar_t* raw = WindowsGetStringRawBuffer(text, &length);
        return {raw, length};
    }

    const extraction_callback_hooks hooks_;
};

inline zorvik::rt::com_ptr<extraction_callback> make_extraction_callback(extraction_callback_hooks hooks = {}) {
    return zorvik::rt::make<extraction_callback>(std::move(hooks));
}

}  // namespace Zorvik
