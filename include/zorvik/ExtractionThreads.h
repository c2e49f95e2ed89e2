// How many threads an extraction (or test) of an archive may decode on. The Archive runtime class
// implements this interface beside IArchive; callers ask for it with QueryInterface.
//
// Entries that decode independently (those of a zip, of an ISO image, of a cab's or a 7z's
// separate blocks) are then split into runs, each decoded by a handler of its own over a clone of
// the archive's stream; a solid block always stays in one run. The extraction callback is still
// called one call at a time, though not always from one thread, and with several runs the
// entries are reported in the order they finish rather than in the archive's order. Archives
// that gain nothing (one solid block, tar, a single compressed stream, RAR) and small
// extractions take one thread whatever the count.
#pragma once

#include "zorvik/Archive.h"

namespace Zorvik {

struct IExtractionThreads : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IExtractionThreads");
    static constexpr const char* name = "Zorvik.IExtractionThreads";
    // The most threads; unless set, the number of cores the process may run on.
    virtual HRESULT get_ExtractionThreads(std::uint32_t* value) = 0;
    // 1 extracts on the operation's own thread exactly as without this interface; 0 restores the
    // default. Takes effect from the next extraction started.
    virtual HRESULT put_ExtractionThreads(std::uint32_t value) = 0;
};

}  // namespace Zorvik
