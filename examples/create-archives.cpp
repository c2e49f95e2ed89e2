// Makes two archives of a folder tree: NAME.zip encrypted with AES-256, and NAME.7z solid,
// LZMA2 at level 9. Neither is written over an existing file.
//   create-archives FOLDER NAME PASSWORD
#include <cstdio>
#include <string>

#include "zorvik/Zorvik.h"
#include "zorvik/files/Files.h"

int main(int argc, char** argv) try {
    if (argc != 4) return std::fprintf(stderr, "usage: create-archives FOLDER NAME PASSWORD\n"), 2;
    const auto items = zorvik::files::addables_from_disk(argv[1]);
    const std::string name = argv[2];
    zorvik::files::create(name + ".zip", items, {.format = "zip", .password = argv[3], .encryption = zorvik::Encryption::AES256});
    zorvik::files::create(name + ".7z", items,
                          {.format = "7z", .method = zorvik::Method::LZMA2, .level = zorvik::Level::Ultra, .solid = true});
    std::printf("%zu entries written into %s.zip and %s.7z\n", items.size(), name.c_str(), name.c_str());
    return 0;
} catch (const zorvik::Error& error) {
    std::fprintf(stderr, "create-archives: %s\n", error.what());
    return 1;
}
