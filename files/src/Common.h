// Errors of the files layer: errno values turned into zorvik::Error with the file's name.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>

#include "zorvik/Zorvik.h"

namespace zorvik::files::detail {

inline ErrorCode code_of_errno(int error) noexcept {
    switch (error) {
    case ENOENT: return ErrorCode::NotFound;
    case EEXIST: return ErrorCode::AlreadyExists;
    case EISDIR: return ErrorCode::IsAFolder;
    case ENOSPC:
    case EDQUOT: return ErrorCode::DiskFull;
    case EROFS: return ErrorCode::CannotWrite;
    case EWOULDBLOCK: return ErrorCode::ArchiveBusy;
    case EINVAL: return ErrorCode::InvalidArgument;
    default: return ErrorCode::Other;
    }
}

inline std::string describe_errno(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer);
}

[[noreturn]] inline void raise_errno(int error, const std::string& what, const char* member, const std::string& name) {
    throw Error(code_of_errno(error), E_FAIL, what.empty() ? describe_errno(error) : what + ": " + describe_errno(error),
                {member, name, {}});
}

// A descriptor closed when it goes.
class fd {
public:
    fd() = default;
    explicit fd(int value) noexcept : value_(value) {}
    fd(fd&& other) noexcept : value_(std::exchange(other.value_, -1)) {}
    fd& operator=(fd&& other) noexcept {
        std::swap(value_, other.value_);
        return *this;
    }
    ~fd();
    int get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ >= 0; }
    int release() noexcept { return std::exchange(value_, -1); }

private:
    int value_ = -1;
};

}  // namespace zorvik::files::detail
