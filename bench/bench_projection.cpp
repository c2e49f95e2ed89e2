// The same work through the projection and through the raw ABI, to show what the projection
// costs: bench_projection list|extract raw|projection ARCHIVE. list walks every entry (path,
// size, time, encrypted); extract decodes every file into a memory stream of its own. Prints a
// checksum of what it saw, which both ways must agree on. Both name the archive to the
// component alike (its file name, and its path for the lock).
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "zorvik/ExtractionCallback.h"
#include "zorvik/Zorvik.h"
#include "zorvik/runtime/collections.h"

using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;

namespace {

std::uint64_t Checksum(std::uint64_t sum, std::uint64_t value) { return sum * 1099511628211ull ^ value; }

// ---- raw ABI ----

com_ptr<Zorvik::IArchive> RawOpen(const std::string& path) {
    auto stream = zorvik::rt::open_file_stream(zorvik::rt::to_wide(path), ABI::Windows::Storage::FileAccessMode::Read);
    auto archive = Zorvik::ActivateInstance<Zorvik::IArchive>(L"Zorvik.Archive");
    auto source = Zorvik::make_archive_source(zorvik::rt::to_wide(path));
    com_ptr<ABI::Windows::Foundation::IAsyncOperation<bool>> opening;
    check_hresult(archive->OpenAsync(stream.get(), source.get(), opening.put()));
    if (!zorvik::rt::get(opening)) throw std::runtime_error("not an archive");
    return archive;
}

com_ptr<Zorvik::IArchiveFolder> RawRoot(Zorvik::IArchive* archive) {
    com_ptr<ABI::Windows::Foundation::IAsyncOperation<Zorvik::IArchiveFolder*>> building;
    check_hresult(archive->GetRootFolderAsync(nullptr, building.put()));
    return zorvik::rt::get(building);
}

void RawList(Zorvik::IArchiveFolder* folder, std::uint64_t& sum) {
    com_ptr<Zorvik::IObservableVector<Zorvik::IArchiveItem*>> observable;
    check_hresult(folder->get_Items(observable.put()));
    const auto items = observable.as<Zorvik::IVector<Zorvik::IArchiveItem*>>();
    std::uint32_t count = 0;
    check_hresult(items->get_Size(&count));
    for (std::uint32_t i = 0; i < count; ++i) {
        com_ptr<Zorvik::IArchiveItem> item;
        check_hresult(items->GetAt(i, item.put()));
        zorvik::rt::hstring path;
        check_hresult(item->GetRelativePath(nullptr, path.put()));
        const std::string text = zorvik::rt::to_utf8(path.view());
        sum = Checksum(sum, text.size());
        com_ptr<Zorvik::IArchiveEntryProperties> properties;
        check_hresult(item->get_Properties(properties.put()));
        if (properties) {
            const auto file = properties.as<Zorvik::IFileSystemProperties>();
            std::uint64_t size = 0;
            Zorvik::DateTime modified{};
            bool encrypted = false;
            check_hresult(file->get_Size(&size));
            check_hresult(file->get_DateModified(&modified));
            check_hresult(properties.as<Zorvik::__IArchiveEntryPropertiesPublicNonVirtuals>()->get_IsEncrypted(&encrypted));
            sum = Checksum(Checksum(Checksum(sum, size), static_cast<std::uint64_t>(modified.UniversalTime)), encrypted);
        }
        if (const auto sub = item.try_as<Zorvik::IArchiveFolder>()) RawList(sub.get(), sum);
    }
}

std::uint64_t RawExtract(const std::string& path) {
    const auto archive = RawOpen(path);
    const auto root = RawRoot(archive.get());
    com_ptr<Zorvik::IObservableVector<Zorvik::IArchiveItem*>> observable;
    check_hresult(root->get_Items(observable.put()));
    std::vector<com_ptr<Zorvik::IArchiveItem>> items =
        zorvik::rt::to_std_vector(observable.as<Zorvik::IVector<Zorvik::IArchiveItem*>>().get());
    std::vector<Zorvik::IArchiveItem*> raw;
    for (const auto& item : items) raw.push_back(item.get());
    std::uint64_t sum = 0;
    // By entry: with several runs, entries are opened and completed interleaved.
    std::map<Zorvik::IArchiveItem*, com_ptr<Zorvik::IRandomAccessStream>> open;
    auto callback = Zorvik::make_extraction_callback({
        .get_file_stream =
            [&](Zorvik::IArchiveItem* item, std::wstring_view) {
                return Zorvik::file_stream_answer::into(open[item] = zorvik::rt::make_in_memory_stream());
            },
        .item_completed =
            [&](Zorvik::IArchiveItem* item, bool succeeded) {
                std::uint64_t size = 0;
                if (const auto found = open.find(item); found != open.end()) {
                    check_hresult(found->second->get_Size(&size));
                    open.erase(found);
                }
                sum += size + succeeded;
            },
    });
    com_ptr<ABI::Windows::Foundation::IAsyncOperation<bool>> extracting;
    check_hresult(archive->ExtractAsync(static_cast<std::uint32_t>(raw.size()), raw.data(), callback.get(), extracting.put()));
    zorvik::rt::get(extracting);
    return sum;
}

// ---- projection ----

// Named to the component as make_archive_source names the raw ABI's.
zorvik::Source NamedAsRaw(const std::string& path) { return {.name = path.substr(path.rfind('/') + 1), .path = path}; }

std::uint64_t ProjectedList(const std::string& path) {
    const zorvik::Archive archive = zorvik::Archive::open(zorvik::Stream::open_file(path), NamedAsRaw(path));
    std::uint64_t sum = 0;
    for (const zorvik::ArchiveItem& item : archive.root().descendants()) {
        sum = Checksum(sum, item.path().size());
        if (const zorvik::EntryProperties properties = item.properties()) {
            const auto modified = properties.modified();
            sum = Checksum(
                Checksum(Checksum(sum, properties.size()), static_cast<std::uint64_t>(zorvik::detail::time_to_abi(modified).UniversalTime)),
                properties.encrypted());
        }
    }
    return sum;
}

std::uint64_t ProjectedExtract(const std::string& path) {
    const zorvik::Archive archive = zorvik::Archive::open(zorvik::Stream::open_file(path), NamedAsRaw(path));
    std::uint64_t sum = 0;
    std::map<Zorvik::IArchiveItem*, zorvik::Stream> open;
    archive.extract({
        .file = [&](const zorvik::ArchiveFile& file,
                    const std::string&) { return zorvik::Sink::into(open[file.abi()] = zorvik::Stream::memory()); },
        .completed =
            [&](const zorvik::ArchiveFile& file, bool succeeded) {
                std::uint64_t size = 0;
                if (const auto found = open.find(file.abi()); found != open.end()) {
                    size = found->second.size();
                    open.erase(found);
                }
                sum += size + succeeded;
            },
    });
    return sum;
}

}  // namespace

int main(int argc, char** argv) try {
    if (argc != 4) return std::fprintf(stderr, "usage: bench_projection list|extract raw|projection ARCHIVE\n"), 2;
    const bool list = std::strcmp(argv[1], "list") == 0, raw = std::strcmp(argv[2], "raw") == 0;
    std::uint64_t sum = 0;
    if (list && raw) {
        const auto archive = RawOpen(argv[3]);
        RawList(RawRoot(archive.get()).get(), sum);
    } else if (list) {
        sum = ProjectedList(argv[3]);
    } else {
        sum = raw ? RawExtract(argv[3]) : ProjectedExtract(argv[3]);
    }
    std::printf("%016llx\n", static_cast<unsigned long long>(sum));
    return 0;
} catch (const std::exception& error) {
    std::fprintf(stderr, "bench_projection: %s\n", error.what());
    return 1;
}
