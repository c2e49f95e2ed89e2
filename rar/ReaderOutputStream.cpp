#include "rar/ReaderOutputStream.h"

namespace Zorvik::Impl::RAR {

bool ReaderOutputStream::Write(const void* buffer, std::uint32_t size, std::uint32_t* processed) {
    std::uint32_t written = 0;
    const bool succeeded = stream_->Write(buffer, size, &written) == S_OK;
    if (processed) *processed = succeeded ? written : 0;
    return succeeded;
}

}  // namespace Zorvik::Impl::RAR
