// Extracts every entry of an archive into a folder: nothing outside it, each file whole or not
// at all. Shows progress; Ctrl-C cancels and leaves no half-written file.
//   extract-archive ARCHIVE FOLDER
#include <atomic>
#include <csignal>
#include <cstdio>

#include "zorvik/Zorvik.h"
#include "zorvik/files/Files.h"

static std::atomic<bool> interrupted{false};

int main(int argc, char** argv) try {
    if (argc != 3) return std::fprintf(stderr, "usage: extract-archive ARCHIVE FOLDER\n"), 2;
    std::signal(SIGINT, [](int) { interrupted = true; });
    const auto progress = [](std::uint64_t done, std::uint64_t total) {
        if (total != 0) std::fprintf(stderr, "\r%3llu%%", static_cast<unsigned long long>(done * 100 / total));
        return interrupted ? zorvik::ProgressAnswer::Cancel : zorvik::ProgressAnswer::Continue;
    };
    const auto report = zorvik::files::extract(zorvik::files::open(argv[1]), argv[2], {.progress = progress});
    std::fprintf(stderr, "\r");
    std::printf("%zu files extracted into %s\n", report.files, argv[2]);
    return 0;
} catch (const zorvik::Error& error) {
    std::fprintf(stderr, "\rextract-archive: %s\n", error.what());
    return error.code() == zorvik::ErrorCode::Cancelled ? 130 : 1;
}
