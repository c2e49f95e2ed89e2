// Under ASan, an allocation larger than its allocator can make (above 1 TiB) is reported by ASan
// itself, as a crash, before libFuzzer's -malloc_limit_mb sees it; the engine's WIM handler asks
// for one (README.md). This ends such a run the way libFuzzer ends one that ran out of memory, so
// that fork mode's -ignore_ooms covers it too. Every other report goes on as ASan makes it.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

// libFuzzer's exit code for an input that ran out of memory.
constexpr int kOutOfMemoryExitCode = 71;

}  // namespace

extern "C" void __asan_on_error() {
    const char* what = __asan_get_report_description();
    if (!what || (std::strcmp(what, "out-of-memory") != 0 && std::strcmp(what, "allocation-size-too-big") != 0)) return;
    std::fprintf(stderr, "==%d== ERROR: libFuzzer: out-of-memory (%s: an allocation the sanitizer cannot make)\n", ::getpid(), what);
    ::_exit(kOutOfMemoryExitCode);
}

#endif
#endif
