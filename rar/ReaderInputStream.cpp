#include "rar/ReaderInputStream.h"

namespace Zorvik::Impl::RAR {

bool ReaderInputStream::Read(void* buffer, std::uint32_t size, std::uint32_t* processed) {
    std::uint32_t read = 0;
    const bool succeeded = stream_->Read(buffer, size, &read) == S_OK;
    if (processed) *processed = succeeded ? read : 0;
    return succeeded;
}

std::int64_t ReaderInputStream::Tell() {
    std::uint64_t position = 0;
    if (stream_->Seek(0, 1, &position) != S_OK || position > static_cast<std::uint64_t>(INT64_MAX)) return -1;
    return static_cast<std::int64_t>(position);
}

bool ReaderInputStream::Seek(std::int64_t offset, std::int32_t origin) {
    if (origin < 0 || origin > 2) return false;
    return stream_->Seek(offset, static_cast<std::uint32_t>(origin), nullptr) == S_OK;
}

}  // namespace Zorvik::Impl::RAR
