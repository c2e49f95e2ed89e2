// libFuzzer target: an archive of a format the engine writes, opened and changed through the C++
// projection as an application does, into an in-memory destination. The first byte picks the
// format (by extension), the change (add, remove, rename or move one item), which of the first
// items it concerns and whether a password is given; the rest is the file. An update that
// reports success must have written an archive that opens again.
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/FuzzApplication.h"

namespace {

constexpr std::array<const char*, 8> kExtensions = {"", "7z", "zip", "tar", "wim", "gz", "bz2", "xz"};
enum class Change { Add, Remove, Rename, Move };

// Whether the change was written.
bool Update(const zorvik::Archive& archive, Change change, std::size_t pick, const zorvik::Password& password,
            const zorvik::Stream& destination) {
    const std::vector<zorvik::ArchiveItem> items = zorvik::fuzz::Walk(archive);
    const zorvik::UpdateHooks hooks{
        .conflict = [](const zorvik::ArchiveItem&, const std::string&) { return zorvik::ConflictAnswer::AddUnderOtherName; },
        .password = password,
        // A solid block is decoded whole to be written again: a bomb is cancelled at the output limit.
        .progress =
            [](std::uint64_t completed, std::uint64_t) {
                return completed > zorvik::fuzz::kOutputLimit ? zorvik::ProgressAnswer::Cancel : zorvik::ProgressAnswer::Continue;
            },
    };
    if (change == Change::Add || items.empty())
        return archive.add({zorvik::Addable::from_text("added.txt", "added by the fuzzer\n", std::nullopt)}, destination, hooks);
    const zorvik::ArchiveItem& item = items[pick % items.size()];
    switch (change) {
    case Change::Remove: return archive.remove({item}, destination, hooks);
    case Change::Rename: return archive.rename(item, "renamed", destination, hooks);
    default: {
        // Into the first folder that is not the item, else to the root.
        zorvik::ArchiveFolder target = archive.root();
        for (const auto& other : items)
            if (const auto folder = other.as_folder(); folder && other.abi() != item.abi()) {
                target = *folder;
                break;
            }
        return archive.move_async(std::vector<zorvik::ArchiveItem>{item}, target, destination, hooks).get();
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string extension = kExtensions[data[0] & 0x07];
    const auto change = static_cast<Change>((data[0] >> 3) & 0x03);
    const bool givePassword = (data[0] & 0x20) != 0;
    const std::size_t pick = data[0] >> 6;
    const std::string name = extension.empty() ? "input" : "input." + extension;
    const std::string_view file(reinterpret_cast<const char*>(data + 1), size - 1);

    const zorvik::Password password = zorvik::fuzz::Passwords(givePassword);
    const zorvik::Stream destination = zorvik::Stream::memory();
    try {
        const zorvik::Archive archive = zorvik::fuzz::Open(zorvik::Stream::memory(file), name, password);
        if (!Update(archive, change, pick, password, destination)) return 0;
    } catch (const zorvik::Error&) {
        return 0;  // the component refused: a result, not a finding
    }

    // What the component called a success must open again, with the password it was given.
    try {
        destination.seek(0);
        zorvik::fuzz::Open(destination, name, zorvik::fuzz::Passwords(givePassword));
        return 0;
    } catch (const zorvik::Error& error) {
        std::fprintf(stderr, "an update reported success but its archive does not open: %s (0x%08X)\n", error.what(),
                     static_cast<unsigned>(error.hresult()));
    }
    std::abort();
}
