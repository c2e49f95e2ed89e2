// Lists every entry of an archive: size, time modified (UTC), "*" when encrypted, and path,
// folders ending in "/".
//   list-archive ARCHIVE
#include <cstdio>

#include "zorvik/Zorvik.h"
#include "zorvik/files/Files.h"

int main(int argc, char** argv) try {
    if (argc != 2) return std::fprintf(stderr, "usage: list-archive ARCHIVE\n"), 2;
    const zorvik::Archive archive = zorvik::files::open(argv[1]);
    for (const zorvik::ArchiveItem& item : archive.root().descendants()) {
        std::printf("%12llu  %s %s %s%s\n", static_cast<unsigned long long>(item.size()), zorvik::to_string(item.modified()).c_str(),
                    item.encrypted() ? "*" : " ", item.path().c_str(), item.is_folder() ? "/" : "");
    }
    return 0;
} catch (const zorvik::Error& error) {
    std::fprintf(stderr, "list-archive: %s\n", error.what());
    return 1;
}
