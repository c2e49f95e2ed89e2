// Hostile input: random bytes, truncated and bit-flipped archives open to true, false or a
// clean error, never a crash or a hang.
#include <random>

#include "archive/tests/ArchiveTesting.h"

namespace Zorvik::Testing {
namespace {

using Robustness = ArchiveFolderTest;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Opens content under a name; any outcome but a crash or hang is acceptable.
void OpenSurvives(const fs::path& file, const std::string& content) {
    std::ofstream(file, std::ios::binary) << content;
    auto archive = NewArchive();
    try {
        OpenArchive(archive.get(), file);
    } catch (const zorvik::rt::hresult_error&) {
    }
}

TEST_F(Robustness, RandomBytesNeverCrash) {
    std::mt19937 random(2024);
    const char* names[] = {"x.7z", "x.zip", "x.tar", "x.gz", "x.rar", "x.iso", "x.bin"};
    for (int i = 0; i < 200; ++i) {
        std::string bytes(random() % 4096, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        OpenSurvives(Path(names[i % 7]), bytes);
    }
}

TEST_F(Robustness, DamagedRealArchivesNeverCrash) {
    Run("7z a -bd a.7z src && zip -qr a.zip src && tar cf a.tar src && tar czf a.tgz src && 7z a -bd -txz a.xz src/readme.txt");
    std::mt19937 random(7);
    const char* files[] = {"a.7z", "a.zip", "a.tar", "a.tgz", "a.xz"};
    for (int i = 0; i < 200; ++i) {
        const std::string name = files[i % 5];
        std::string bytes = ReadFile(Path(name));
        if (i % 2 == 0) {
            bytes.resize(random() % bytes.size());
        } else {
            for (int flips = 1 + random() % 8; flips > 0; --flips) bytes[random() % bytes.size()] ^= static_cast<char>(1 << (random() % 8));
        }
        OpenSurvives(Path("damaged-" + name), bytes);
    }
}

}  // namespace
}  // namespace Zorvik::Testing
