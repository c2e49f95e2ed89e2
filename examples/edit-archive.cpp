// Adds a file into a folder of an archive and renames another entry, in one pass; the archive
// is replaced only once the new one is written whole.
//   edit-archive ARCHIVE FILE FOLDER ENTRY NEW-NAME
#include <cstdio>
#include <filesystem>
#include <string>

#include "zorvik/Zorvik.h"
#include "zorvik/files/Files.h"

int main(int argc, char** argv) try {
    if (argc != 6) return std::fprintf(stderr, "usage: edit-archive ARCHIVE FILE FOLDER ENTRY NEW-NAME\n"), 2;
    zorvik::files::Replacement target(argv[1]);
    const zorvik::Archive archive = zorvik::files::open(argv[1]);
    const std::string stored = std::string(argv[3]) + "/" + std::filesystem::path(argv[2]).filename().string();
    archive.edit().add(zorvik::files::addables_from_disk(argv[2], stored)).rename(archive.at(argv[4]), argv[5]).write(target.stream());
    target.commit();
    std::printf("%s: added %s, renamed %s to %s\n", argv[1], stored.c_str(), argv[4], argv[5]);
    return 0;
} catch (const zorvik::Error& error) {
    std::fprintf(stderr, "edit-archive: %s\n", error.what());
    return 1;
}
