#include "archive/FileLock.h"

#include <locale>

namespace Zorvik::Impl {

std::wstring FileLock::NameFor(std::wstring_view archivePath) {
    const auto& facet = std::use_facet<std::ctype<wchar_t>>(std::locale());
    std::wstring name(archivePath);
    for (wchar_t& c : name) c = facet.tolower(c == L'\\' ? L'_' : c);
    return name;
}

FileLock::FileLock(std::wstring_view archivePath) {
    const std::wstring name = NameFor(archivePath);
    handle_ = CreateMutexExW(nullptr, name.c_str(), 0, SYNCHRONIZE);
    if (!handle_ && GetLastError() == ERROR_ALREADY_EXISTS) handle_ = OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
    if (!handle_) creationError_ = GetLastError() == ERROR_SUCCESS ? ERROR_GEN_FAILURE : GetLastError();
}

FileLock::~FileLock() {
    if (handle_) CloseHandle(handle_);
}

bool FileLock::TryAcquire() noexcept {
    if (!handle_) return false;
    const DWORD result = WaitForSingleObjectEx(handle_, 0, FALSE);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void FileLock::Release() noexcept {
    if (handle_) ReleaseMutex(handle_);
}

}  // namespace Zorvik::Impl
