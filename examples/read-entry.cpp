// Reads one entry of an archive into memory and writes it to standard output; nothing touches
// the disk but the archive.
//   read-entry ARCHIVE ENTRY [PASSWORD]
#include <cstdio>

#include "zorvik/Zorvik.h"
#include "zorvik/files/Files.h"

int main(int argc, char** argv) try {
    if (argc != 3 && argc != 4) return std::fprintf(stderr, "usage: read-entry ARCHIVE ENTRY [PASSWORD]\n"), 2;
    const zorvik::Password password = argc == 4 ? zorvik::Password(argv[3]) : zorvik::Password();
    const std::string data = zorvik::files::open(argv[1], password).read_text(argv[2], password);
    std::fwrite(data.data(), 1, data.size(), stdout);
    return 0;
} catch (const zorvik::Error& error) {
    std::fprintf(stderr, "read-entry: %s\n", error.what());
    return 1;
}
