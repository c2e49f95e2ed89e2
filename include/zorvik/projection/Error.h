// zorvik::Error: what every projected member throws, with the HRESULT, a code to branch on and
// a message that names the member, the archive and the entry where they are known.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "zorvik/Archive.h"
#include "zorvik/Items.h"
#include "zorvik/Update.h"
#include "zorvik/runtime/errors.h"

namespace zorvik {

enum class ErrorCode {
    WrongPassword,
    PasswordRequired,
    NotAnArchive,
    AlreadyExists,
    NotFound,
    CannotWrite,
    Damaged,
    IsAFolder,
    ArchiveBusy,
    DiskFull,
    Cancelled,
    InvalidArgument,
    Other,
};

// Where a failure happened, as far as the caller's code knows it.
struct ErrorContext {
    std::string member;   // "Archive::open"
    std::string archive;  // the archive's name
    std::string entry;    // the entry's path
};

class Error : public std::runtime_error {
public:
    Error(ErrorCode code, HRESULT hresult, const std::string& reason, ErrorContext context = {})
        : std::runtime_error(compose(reason, context)), code_(code), hresult_(hresult), reason_(reason), context_(std::move(context)) {}

    ErrorCode code() const noexcept { return code_; }
    HRESULT hresult() const noexcept { return hresult_; }
    // The reason alone, without the names.
    const std::string& reason() const noexcept { return reason_; }
    const std::string& member() const noexcept { return context_.member; }
    const std::string& archive() const noexcept { return context_.archive; }
    const std::string& entry() const noexcept { return context_.entry; }

private:
    static std::string compose(const std::string& reason, const ErrorContext& context) {
        std::string text;
        if (!context.archive.empty()) text += context.archive + ": ";
        if (!context.entry.empty()) text += "'" + context.entry + "': ";
        text += reason;
        if (!context.member.empty()) text += " (" + context.member + ")";
        return text;
    }

    ErrorCode code_;
    HRESULT hresult_;
    std::string reason_;
    ErrorContext context_;
};

namespace detail {

// Win32 codes the component and the runtime report, as HRESULTs.
inline constexpr HRESULT kFileNotFound = HRESULT_FROM_WIN32(2);
inline constexpr HRESULT kPathNotFound = HRESULT_FROM_WIN32(3);
inline constexpr HRESULT kFileExists = HRESULT_FROM_WIN32(80);
inline constexpr HRESULT kDiskFull = HRESULT_FROM_WIN32(112);
inline constexpr HRESULT kBusy = HRESULT_FROM_WIN32(170);
inline constexpr HRESULT kAlreadyExists = HRESULT_FROM_WIN32(183);
inline constexpr HRESULT kDirectory = HRESULT_FROM_WIN32(267);  // ERROR_DIRECTORY: a folder where a file is needed
inline constexpr HRESULT kQuotaExceeded = HRESULT_FROM_WIN32(1295);
inline constexpr HRESULT kDataError = HRESULT_FROM_WIN32(13);  // ERROR_INVALID_DATA

inline ErrorCode code_of(HRESULT hr) noexcept {
    switch (hr) {
    case Zorvik::kWrongPassword: return ErrorCode::WrongPassword;
    case E_ABORT: return ErrorCode::Cancelled;
    case kFileExists:
    case kAlreadyExists: return ErrorCode::AlreadyExists;
    case kFileNotFound:
    case kPathNotFound: return ErrorCode::NotFound;
    case kBusy:
    case Zorvik::kFileLockUnavailable: return ErrorCode::ArchiveBusy;
    case kDiskFull:
    case kQuotaExceeded: return ErrorCode::DiskFull;
    case kDirectory: return ErrorCode::IsAFolder;
    case kDataError: return ErrorCode::Damaged;
    case E_INVALIDARG: return ErrorCode::InvalidArgument;
    case E_NOTIMPL: return ErrorCode::CannotWrite;
    default: return ErrorCode::Other;
    }
}

inline std::string hex(HRESULT hr) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) text += digits[(static_cast<std::uint32_t>(hr) >> shift) & 0xF];
    return text;
}

inline std::string describe(HRESULT hr) {
    switch (hr) {
    case Zorvik::kWrongPassword: return "wrong password";
    case E_ABORT: return "cancelled";
    case kFileExists:
    case kAlreadyExists: return "already exists";
    case kFileNotFound: return "no such file";
    case kPathNotFound: return "no such folder";
    case kBusy: return "archive busy: another operation is working on it";
    case Zorvik::kFileLockUnavailable: return "cannot lock the archive: no folder for lock files is safe from other users";
    case kDiskFull: return "disk full";
    case kQuotaExceeded: return "disk quota exceeded";
    case kDirectory: return "is a folder";
    case kDataError: return "damaged data";
    case E_INVALIDARG: return "invalid argument";
    case E_NOTIMPL: return "not supported by this format";
    case E_ACCESSDENIED: return "access denied";
    case E_OUTOFMEMORY: return "out of memory";
    case E_NOINTERFACE: return "not offered by this version of the component";
    case RO_E_CLOSED: return "the archive is closed";
    case E_ILLEGAL_METHOD_CALL: return "not possible in this state (is an archive open?)";
    case Zorvik::kTooManyEntries: return "the archive holds more entries and folders than the component accepts";
    case Zorvik::kPathTooLong: return "an entry's path is longer than the component accepts";
    case HRESULT_FROM_WIN32(38): return "the data ended before its size";
    case HRESULT_FROM_WIN32(223): return "file too large";
    default: return "failed with " + hex(hr);
    }
}

[[noreturn]] inline void raise(HRESULT hr, ErrorContext context) { throw Error(code_of(hr), hr, describe(hr), std::move(context)); }

// The Error for whatever is being handled: an Error as it is, a platform exception by its
// HRESULT, anything else as Other. Call only inside a catch block.
[[noreturn]] inline void rethrow_as_error(const ErrorContext& context) {
    try {
        throw;
    } catch (const Error&) {
        throw;
    } catch (const zorvik::rt::hresult_error& error) {
        raise(error.code(), context);
    } catch (const std::bad_alloc&) {
        raise(E_OUTOFMEMORY, context);
    } catch (const std::exception& error) {
        throw Error(ErrorCode::Other, E_FAIL, error.what(), context);
    }
}

// check_hresult for projected members: a failure raises an Error naming member.
inline void check(HRESULT hr, const char* member) {
    if (FAILED(hr)) raise(hr, {member, {}, {}});
}

}  // namespace detail
}  // namespace zorvik
