// libFuzzer target: an archive of a format the engine writes, opened and changed through the
// component's public classes as an application does, into an in-memory destination. The first
// byte picks the format (by extension), the change (add, remove, rename or move one item),
// which of the first items it concerns and whether a password is given; the rest is the file.
// An update that reports success must have written an archive that opens again.
#include <array>
#include <cstdio>

#include "fuzz/FuzzApplication.h"
#include "zorvik/UpdateCallback.h"

namespace {

using Zorvik::Fuzz::check_hresult;
using Zorvik::Fuzz::com_ptr;

constexpr std::array<const wchar_t*, 8> kExtensions = {L"", L"7z", L"zip", L"tar", L"wim", L"gz", L"bz2", L"xz"};
enum class Change { Add, Remove, Rename, Move };

Zorvik::UpdateResult Update(const Zorvik::Fuzz::OpenedArchive& opened, Change change, std::size_t pick, bool givePassword,
                            const std::shared_ptr<int>& asked, Zorvik::Fuzz::IRandomAccessStream* destination) {
    std::vector<com_ptr<Zorvik::IArchiveItem>> items;
    Zorvik::Fuzz::Walk(opened.root.get(), items);
    const auto callback = Zorvik::make_update_callback({
        .resolve_conflict = [](Zorvik::IFileSystemProperties*, Zorvik::IArchiveItem*) { return Zorvik::ConflictAnswer::AddUnderOtherName; },
        .get_password = [givePassword, asked] { return Zorvik::Fuzz::AnswerPassword(givePassword, asked); },
        // A solid block is decoded whole to be written again: a bomb is cancelled at the output limit.
        .set_completed = [](std::uint64_t completed) { return completed > Zorvik::Fuzz::kOutputLimit ? 1 : 0; },
    });
    com_ptr<Zorvik::Fuzz::IAsyncOperation<Zorvik::UpdateResult>> operation;
    if (change == Change::Add || items.empty()) {
        static constexpr std::string_view kContent = "added by the fuzzer\n";
        auto added = Zorvik::make_archive_addable({.path = L"added.txt", .size = kContent.size()},
                                                  [] { return Zorvik::Fuzz::MemoryStream(kContent); });
        Zorvik::IArchiveAddable* add[] = {added.get()};
        check_hresult(opened.archive->AddAsync(1, add, callback.get(), destination, operation.put()));
        return zorvik::rt::get(operation);
    }
    Zorvik::IArchiveItem* item = items[pick % items.size()].get();
    switch (change) {
    case Change::Remove: check_hresult(opened.archive->RemoveAsync(1, &item, callback.get(), destination, operation.put())); break;
    case Change::Rename:
        check_hresult(
            opened.archive->RenameAsync(item, zorvik::rt::hstring(L"renamed").get(), callback.get(), destination, operation.put()));
        break;
    default: {
        // Into the first folder that is not the item, else to the root.
        com_ptr<Zorvik::IArchiveFolder> target = opened.root;
        for (const auto& other : items)
            if (auto folder = other.try_as<Zorvik::IArchiveFolder>(); folder && other.get() != item) {
                target = folder;
                break;
            }
        check_hresult(opened.archive->MoveAsync(1, &item, target.get(), callback.get(), destination, operation.put()));
    }
    }
    return zorvik::rt::get(operation);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::wstring extension = kExtensions[data[0] & 0x07];
    const auto change = static_cast<Change>((data[0] >> 3) & 0x03);
    const bool givePassword = (data[0] & 0x20) != 0;
    const std::size_t pick = data[0] >> 6;
    const std::wstring name = extension.empty() ? L"input" : L"input." + extension;
    const std::string_view file(reinterpret_cast<const char*>(data + 1), size - 1);

    auto asked = std::make_shared<int>(0);
    const auto destination = zorvik::rt::make_in_memory_stream();
    try {
        const auto opened = Zorvik::Fuzz::Open(Zorvik::Fuzz::MemoryStream(file), name, givePassword, asked);
        if (!opened.root || Update(opened, change, pick, givePassword, asked, destination.get()) != Zorvik::UpdateResult::Success) return 0;
    } catch (const zorvik::rt::hresult_error&) {
        return 0;  // the component refused: a result, not a finding
    }

    // What the component called a success must open again, with the password it was given.
    try {
        check_hresult(destination->Seek(0));
        if (Zorvik::Fuzz::Open(destination, name, givePassword, std::make_shared<int>(0)).root) return 0;
        std::fprintf(stderr, "an update reported success but its archive does not open\n");
    } catch (const zorvik::rt::hresult_error& error) {
        std::fprintf(stderr, "an update reported success but its archive fails to open: 0x%08X\n", static_cast<unsigned>(error.code()));
    }
    std::abort();
}
