#include "cli/extracting/StandardOutput.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

#include "cli/reading/SequentialStream.h"
#include "cli/reading/TemporaryFile.h"

namespace Zorvik::Cli {

zorvik::rt::com_ptr<ABI::Windows::Storage::Streams::IRandomAccessStream> StandardOutput::Open(const IArchiveItem* item) {
    if (!direct_ && waiting_.empty()) {
        direct_ = item;
        return zorvik::rt::make<SequentialStream>(SequentialStream::WriteTo(STDOUT_FILENO));
    }
    Waiting& waiting = waiting_.emplace_back(Waiting{item, NewTemporaryFile()});
    return zorvik::rt::make<SequentialStream>(SequentialStream::WriteTo(waiting.file.get()));
}

void StandardOutput::Close(const IArchiveItem* item, bool succeeded) {
    if (direct_ == item) {
        direct_ = nullptr;
    } else {
        const auto found = std::find_if(waiting_.begin(), waiting_.end(), [&](const Waiting& waiting) { return waiting.item == item; });
        if (found == waiting_.end()) return;
        found->ended = true;
        found->succeeded = succeeded;
    }
    Release();
}

void StandardOutput::Release() {
    const auto write = SequentialStream::WriteTo(STDOUT_FILENO);
    std::vector<std::uint8_t> buffer(1 << 20);
    while (!direct_ && !waiting_.empty() && waiting_.front().ended) {
        const Waiting waiting = std::move(waiting_.front());
        waiting_.pop_front();
        if (!waiting.succeeded) continue;
        if (::lseek(waiting.file.get(), 0, SEEK_SET) != 0) throw std::system_error(errno, std::generic_category(), "seek");
        for (ssize_t read; (read = ::read(waiting.file.get(), buffer.data(), buffer.size())) != 0;) {
            if (read < 0 && errno == EINTR) continue;
            if (read < 0) throw std::system_error(errno, std::generic_category(), "read");
            write({buffer.data(), static_cast<std::size_t>(read)});
        }
    }
}

}  // namespace Zorvik::Cli
