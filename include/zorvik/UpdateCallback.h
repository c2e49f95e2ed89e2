// Ready-made objects for writing archives, for applications and tests: an update callback
// answered by optional hooks, and content to add described by values with a function that
// opens it. A hook that throws answers the component with the exception's HRESULT, which ends
// the update.
//
//   auto report = Zorvik::make_archive_addable({.path = L"docs/report.txt", .size = size},
//                                             [] { return OpenReport(); });
//   auto callback = Zorvik::make_update_callback({
//       .resolve_conflict = [](IFileSystemProperties*, IArchiveItem*) { return Zorvik::ConflictAnswer::Replace; },
//   });
//   IArchiveAddable* items[] = {report.get()};
//   archive->AddAsync(1, items, callback.get(), destination.get(), operation.put());
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "zorvik/ArchiveSource.h"
#include "zorvik/ProgressHooks.h"
#include "zorvik/Edit.h"
#include "zorvik/Update.h"
#include "zorvik/VolumeUpdate.h"

namespace Zorvik {

// Every hook is optional: without one, a conflict cancels the update, a blocked path is only
// heard about, no password is given, there is no further volume, and progress lets the update
// go on.
struct update_callback_hooks {
    std::function<std::int32_t(IFileSystemProperties* item, IArchiveItem* existing)> resolve_conflict;
    std::function<void(IArchiveItem* existing)> path_blocked;
    std::function<password_answer()> get_password;
    std::function<void(std::uint32_t count)> set_item_count;
    std::function<std::int32_t(std::uint64_t total)> set_total;
    std::function<std::int32_t(std::uint64_t completed)> set_completed;
    // Volume number of an update written in volumes (2 for the second); unavailable is no more.
    std::function<volume_answer(std::uint32_t number)> get_volume;
    std::function<void(std::uint32_t count)> set_volume_count;
    // Why the update is about to complete with UpdateResult::Failure.
    std::function<void(HRESULT reason, std::wstring_view message)> failed;
};

class update_callback final : public zorvik::rt::implements<update_callback, IUpdateCallback, IUpdatePasswordProvider, IOperationProgress,
                                                            IUpdateVolumeProvider, IUpdateFailureReport> {
public:
    explicit update_callback(update_callback_hooks hooks) : hooks_(std::move(hooks)) {}

    HRESULT ResolveConflict(IFileSystemProperties* item, IArchiveItem* existing, std::int32_t* answer) override {
        if (!answer) return E_POINTER;
        return zorvik::rt::boundary(
            [&] { *answer = hooks_.resolve_conflict ? hooks_.resolve_conflict(item, existing) : ConflictAnswer::Cancel; });
    }

    HRESULT PathBlocked(IArchiveItem* existing) override {
        return zorvik::rt::boundary([&] {
            if (hooks_.path_blocked) hooks_.path_blocked(existing);
        });
    }

    HRESULT GetPassword(HSTRING* password, std::int32_t* answer) override {
        if (!password || !answer) return E_POINTER;
        *password = nullptr;
        return zorvik::rt::boundary([&] {
            const password_answer result = hooks_.get_password ? hooks_.get_password() : password_answer::declined();
            *password = zorvik::rt::hstring(result.password).detach();
            *answer = result.status;
        });
    }

    HRESULT GetVolume(std::uint32_t number, std::int32_t* answer, IRandomAccessStream** volume) override {
        if (!answer || !volume) return E_POINTER;
        *volume = nullptr;
        return zorvik::rt::boundary([&] {
            volume_answer given = hooks_.get_volume ? hooks_.get_volume(number) : volume_answer::unavailable();
            *volume = given.volume.detach();
            *answer = given.status;
        });
    }

    HRESULT SetVolumeCount(std::uint32_t count) override {
        return zorvik::rt::boundary([&] {
            if (hooks_.set_volume_count) hooks_.set_volume_count(count);
        });
    }

    HRESULT ReportFailure(HRESULT reason, HSTRING message) override {
        return zorvik::rt::boundary([&] {
            if (hooks_.failed) hooks_.failed(reason, zorvik::rt::copy_hstring(message).view());
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
    const update_callback_hooks hooks_;
};

inline zorvik::rt::com_ptr<update_callback> make_update_callback(update_callback_hooks hooks = {}) {
    return zorvik::rt::make<update_callback>(std::move(hooks));
}

// What an added entry is; times are ticks since 1601-01-01 UTC (0: none).
struct addable_description {
    std::wstring path;
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::int64_t created = 0;
    std::int64_t accessed = 0;
    bool is_folder = false;
    std::uint32_t mode = 0;             // POSIX type and permission bits; 0 when unknown
    std::wstring symbolic_link_target;  // non-empty: the entry is a symbolic link to it, and has no content
};

class archive_addable final : public zorvik::rt::implements<archive_addable, IArchiveAddable, IFileSystemProperties, IPosixFileProperties> {
public:
    // content opens the data each time the component asks for it; folders and links need none.
    archive_addable(addable_description description, std::function<zorvik::rt::com_ptr<IRandomAccessStream>()> content)
        : description_(std::move(description)), content_(std::move(content)) {}

    HRESULT GetContentStream(IRandomAccessStream** stream) override {
        if (!stream) return E_POINTER;
        *stream = nullptr;
        return zorvik::rt::boundary([&] {
            if (content_) *stream = content_().detach();
        });
    }

    HRESULT get_Path(HSTRING* value) override { return give(description_.path, value); }
    HRESULT get_Size(std::uint64_t* value) override { return give(description_.size, value); }
    HRESULT get_DateModified(DateTime* value) override { return give(DateTime{description_.modified}, value); }
    HRESULT get_DateCreated(DateTime* value) override { return give(DateTime{description_.created}, value); }
    HRESULT get_DateAccessed(DateTime* value) override { return give(DateTime{description_.accessed}, value); }
    HRESULT get_IsFolder(bool* value) override { return give(description_.is_folder, value); }
    HRESULT get_Mode(std::uint32_t* value) override { return give(description_.mode, value); }
    HRESULT get_SymbolicLinkTarget(HSTRING* value) override { return give(description_.symbolic_link_target, value); }

private:
    template <typename T>
    static HRESULT give(T value, T* out) noexcept {
        if (!out) return E_POINTER;
        *out = value;
        return S_OK;
    }
    static HRESULT give(const std::wstring& text, HSTRING* out) noexcept {
        if (!out) return E_POINTER;
        *out = nullptr;
        return zorvik::rt::boundary([&] { *out = zorvik::rt::hstring(text).detach(); });
    }

    const addable_description description_;
    const std::function<zorvik::rt::com_ptr<IRandomAccessStream>()> content_;
};

inline zorvik::rt::com_ptr<archive_addable> make_archive_addable(addable_description description,
                                                                 std::function<zorvik::rt::com_ptr<IRandomAccessStream>()> content = {}) {
    return zorvik::rt::make<archive_addable>(std::move(description), std::move(content));
}

}  // namespace Zorvik
