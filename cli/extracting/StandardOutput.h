// "extract -O": the chosen files' data, one after the other, on standard output. One decode
// may feed several entries at once (the copies of a file in a RAR archive): the first writes
// straight through, the others wait in temporary files and follow in the order they began.
#pragma once

#include <deque>

#include "zorvik/Items.h"
#include "zorvik/runtime/com_ptr.h"
#include "zorvik/runtime/streams_abi.h"
#include "zorvik/runtime/unique_fd.h"

namespace Zorvik::Cli {

class StandardOutput {
public:
    // item stands for its entry until Close.
    zorvik::rt::com_ptr<ABI::Windows::Storage::Streams::IRandomAccessStream> Open(const IArchiveItem* item);
    // The entry's data is all there, or it failed (what of it waits is dropped). Raises
    // std::system_error when standard output takes no more.
    void Close(const IArchiveItem* item, bool succeeded);

private:
    struct Waiting {
        const IArchiveItem* item = nullptr;
        zorvik::rt::unique_fd file;
        bool ended = false;
        bool succeeded = false;
    };
    // Writes out, in order, the waiting entries that have ended, while none writes straight.
    void Release();

    const IArchiveItem* direct_ = nullptr;
    std::deque<Waiting> waiting_;
};

}  // namespace Zorvik::Cli
