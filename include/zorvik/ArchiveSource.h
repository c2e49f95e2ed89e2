// A ready-made IArchiveSource for applications and tests: the archive file's type, name and
// path, with optional hooks answering the password and volume requests and hearing about each
// open attempt. A hook that throws answers the component with the exception's HRESULT.
//
// A password request that comes again within one open means that the password given did not
// open the archive. The component asks again for as long as passwords are given, so a hook must
// end it: cancel (or decline) when it has no other password to try.
//
//   auto asked = std::make_shared<bool>(false);
//   auto source = Zorvik::make_archive_source(L"/data/photos.7z", {
//       .request_password = [asked] {
//           if (std::exchange(*asked, true)) return Zorvik::password_answer::canceled();  // it was wrong
//           return Zorvik::password_answer::given(L"secret");
//       },
//   });
//   archive->OpenAsync(stream.get(), source.get(), operation.put());
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "zorvik/Archive.h"
#include "zorvik/runtime/implements.h"

namespace Zorvik {

// Answer to a password request: given, canceled (ends the open as cancelled) or declined (the
// format asking counts as not opening the archive, and the others are tried).
struct password_answer {
    std::int32_t status = 2;
    std::wstring password;

    static password_answer given(std::wstring password) { return {0, std::move(password)}; }
    static password_answer canceled() { return {1, {}}; }
    static password_answer declined() { return {2, {}}; }
};

// Answer to a volume request: given (with a stream), canceled or not available.
struct volume_answer {
    std::int32_t status = 2;
    zorvik::rt::com_ptr<IRandomAccessStream> volume;

    static volume_answer given(zorvik::rt::com_ptr<IRandomAccessStream> volume) { return {0, std::move(volume)}; }
    static volume_answer canceled() { return {1, {}}; }
    static volume_answer unavailable() { return {2, {}}; }
};

// Every hook is optional: without one, passwords are declined, volumes are unavailable and
// open attempts go unheard.
struct archive_source_hooks {
    std::function<password_answer()> request_password;
    std::function<volume_answer(std::wstring_view volume_name)> get_volume;
    std::function<void(bool opened)> report_open_attempt;
};

class archive_source final : public zorvik::rt::implements<archive_source, IArchiveSource> {
public:
    // file_type is the extension without a leading dot.
    archive_source(std::wstring file_type, std::wstring name, std::wstring path, archive_source_hooks hooks = {})
        : file_type_(std::move(file_type)), name_(std::move(name)), path_(std::move(path)), hooks_(std::move(hooks)) {}

    HRESULT get_FileType(HSTRING* value) override { return copy_out(file_type_, value); }
    HRESULT get_Name(HSTRING* value) override { return copy_out(name_, value); }
    HRESULT get_Path(HSTRING* value) override { return copy_out(path_, value); }
    HRESULT get_Reserved(IInspectable** unused) override {
        if (unused) *unused = nullptr;
        return E_NOTIMPL;
    }

    HRESULT RequestPassword(std::int32_t* status, HSTRING* password) override {
        if (!status || !password) return E_POINTER;
        *password = nullptr;
        return zorvik::rt::boundary([&] {
            const password_answer answer = hooks_.request_password ? hooks_.request_password() : password_answer::declined();
            *password = zorvik::rt::hstring(answer.password).detach();
            *status = answer.status;
        });
    }

    HRESULT GetVolume(HSTRING volume_name, std::int32_t* status, IRandomAccessStream** volume) override {
        if (!status || !volume) return E_POINTER;
        *volume = nullptr;
        return zorvik::rt::boundary([&] {
            std::uint32_t length = 0;
            const wchar_t* text = WindowsGetStringRawBuffer(volume_name, &length);
            volume_answer answer = hooks_.get_volume ? hooks_.get_volume(std::wstring_view(text, length)) : volume_answer::unavailable();
            *volume = answer.volume.detach();
            *status = answer.status;
        });
    }

    HRESULT ReportOpenAttempt(bool opened) override {
        return zorvik::rt::boundary([&] {
            if (hooks_.report_open_attempt) hooks_.report_open_attempt(opened);
        });
    }

private:
    static HRESULT copy_out(const std::wstring& text, HSTRING* value) noexcept {
        if (!value) return E_POINTER;
        *value = nullptr;
        return zorvik::rt::boundary([&] { *value = zorvik::rt::hstring(text).detach(); });
    }

    const std::wstring file_type_;
    const std::wstring name_;
    const std::wstring path_;
    const archive_source_hooks hooks_;
};

// A source for a file path: the name is what follows the last "/" (or "\"), the file type what
// follows the last "." of the name (empty when it has none).
inline zorvik::rt::com_ptr<archive_source> make_archive_source(std::wstring_view path, archive_source_hooks hooks = {}) {
    const std::size_t slash = path.find_last_of(L"/\\");
    const std::wstring_view name = slash == std::wstring_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind(L'.');
    const std::wstring_view file_type = dot == std::wstring_view::npos ? std::wstring_view() : name.substr(dot + 1);
    return zorvik::rt::make<archive_source>(std::wstring(file_type), std::wstring(name), std::wstring(path), std::move(hooks));
}

}  // namespace Zorvik
