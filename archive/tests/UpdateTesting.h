// Writing archives in tests: content to add from the scratch folder, a callback that records what
// the caller hears, and what 7zz makes of the result.
#pragma once

#include <cstdio>
#include <functional>
#include <sstream>

#include "archive/tests/ExtractionTesting.h"
#include "zorvik/UpdateCallback.h"

namespace Zorvik::Testing {

inline com_ptr<IRandomAccessStream> MemoryStreamOf(const std::string& content) {
    auto stream = zorvik::rt::make_in_memory_stream();
    auto writer = zorvik::rt::make_data_writer();
    zorvik::rt::check_hresult(
        writer->WriteBytes(static_cast<std::uint32_t>(content.size()), reinterpret_cast<const std::uint8_t*>(content.data())));
    com_ptr<ABI::Windows::Storage::Streams::IBuffer> buffer;
    zorvik::rt::check_hresult(writer->DetachBuffer(buffer.put()));
    com_ptr<IAsyncOperation<std::uint32_t>> written;
    zorvik::rt::check_hresult(stream.as<IOutputStream>()->WriteAsync(buffer.get(), written.put()));
    zorvik::rt::get(written);
    zorvik::rt::check_hresult(stream->Seek(0));
    return stream;
}

// One entry as `7zz l -slt` shows it.
struct ListedEntry {
    std::string path;
    bool folder = false;
    std::uint64_t size = 0;
    std::uint64_t packedSize = 0;
    std::string method;
    std::string attributes;
    std::string crc;
    std::string block;  // entries of one solid block share it
    bool encrypted = false;
};

// Runs a shell command; its standard output, and whether it exited with 0.
inline std::pair<std::string, bool> Capture(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return {output, false};
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
    return {output, ::pclose(pipe) == 0};
}

// The entries 7zz lists, in the archive's order; none when 7zz cannot list the archive.
inline std::vector<ListedEntry> SevenZipList(const fs::path& archive, const std::string& password = "-") {
    const auto [text, listed] = Capture("7zz l -slt -ba -p'" + password + "' '" + archive.string() + "'");
    std::vector<ListedEntry> entries;
    if (!listed) return entries;
    std::istringstream lines(text);
    bool inEntry = false;  // entries are blocks of lines, one apart
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find(" = ");
        if (equals == std::string::npos) {
            inEntry = false;
            continue;
        }
        if (!std::exchange(inEntry, true)) entries.emplace_back();
        const std::string key = line.substr(0, equals), value = line.substr(equals + 3);
        ListedEntry& entry = entries.back();
        if (key == "Path") entry.path = value;
        if (key == "Folder" || key == "Attributes") entry.folder = entry.folder || value == "+" || value.rfind("D", 0) == 0;
        if (key == "Size") entry.size = std::stoull(value.empty() ? "0" : value);
        if (key == "Packed Size") entry.packedSize = std::stoull(value.empty() ? "0" : value);
        if (key == "Method") entry.method = value;
        if (key == "Attributes" || key == "Mode") entry.attributes = value;
        if (key == "Block") entry.block = value;
        if (key == "CRC") entry.crc = value;
        if (key == "Encrypted") entry.encrypted = value == "+";
    }
    return entries;
}

inline std::vector<std::string> PathsOf(const std::vector<ListedEntry>& entries) {
    std::vector<std::string> paths;
    for (const auto& entry : entries) paths.push_back(entry.path + (entry.folder ? "/" : ""));
    std::sort(paths.begin(), paths.end());
    return paths;
}

inline bool SevenZipTests(const fs::path& archive, const std::string& password = "-") {
    return Capture("7zz t -p'" + password + "' '" + archive.string() + "'").second;
}

// What an update asked the caller.
struct UpdateHeard {
    std::vector<std::string> conflicts;  // path of the item being written
    std::vector<std::string> blocked;    // name of the file in the way
    int passwordRequests = 0;
    std::vector<HRESULT> failures;  // reasons of a Failure, as reported
};

// Records every question; conflicts are answered by answer (cancel when none), passwords with
// password when one is given.
inline com_ptr<update_callback> UpdateRecorder(UpdateHeard& heard, std::function<std::int32_t(int)> answer = {},
                                               std::optional<std::wstring> password = std::nullopt) {
    update_callback_hooks hooks;
    hooks.resolve_conflict = [&heard, answer](IFileSystemProperties* item, IArchiveItem*) {
        zorvik::rt::hstring path;
        zorvik::rt::check_hresult(item->get_Path(path.put()));
        heard.conflicts.push_back(Utf8(path.view()));
        return answer ? answer(static_cast<int>(heard.conflicts.size())) : ConflictAnswer::Cancel;
    };
    hooks.path_blocked = [&heard](IArchiveItem* existing) { heard.blocked.push_back(NameOfItem(existing)); };
    hooks.failed = [&heard](HRESULT reason, std::wstring_view) { heard.failures.push_back(reason); };
    hooks.get_password = [&heard, password] {
        ++heard.passwordRequests;
        return password ? password_answer::given(*password) : password_answer::declined();
    };
    return make_update_callback(std::move(hooks));
}

// An update operation started on a destination stream.
using UpdateStart = std::function<com_ptr<IAsyncOperation<UpdateResult>>(IRandomAccessStream* destination)>;

// The node at a "/"-joined path; the root for "".
inline com_ptr<IArchiveItem> Node(IArchive* archive, const std::string& path) {
    com_ptr<IArchiveItem> node = RootOf(archive).as<IArchiveItem>();
    std::istringstream names(path);
    for (std::string name; std::getline(names, name, '/');) {
        com_ptr<IArchiveItem> next;
        for (const auto& child : ItemsOf(node.as<IArchiveFolder>()))
            if (NameOfItem(child.get()) == name) next = child;
        if (!next) throw std::runtime_error("no node " + path);
        node = next;
    }
    return node;
}

// Content to add as stored, with the bytes of content.
inline com_ptr<archive_addable> Addable(const std::wstring& stored, const std::string& content, std::uint32_t mode = 0) {
    addable_description description{.path = stored, .size = content.size(), .modified = 133000000000000000, .mode = mode};
    return make_archive_addable(std::move(description), [content] { return MemoryStreamOf(content); });
}

inline com_ptr<archive_addable> Folder(const std::wstring& stored) { return make_archive_addable({.path = stored, .is_folder = true}); }

inline UpdateStart Add(IArchive* archive, std::vector<com_ptr<archive_addable>> items, IUpdateCallback* callback) {
    return [=](IRandomAccessStream* destination) {
        std::vector<IArchiveAddable*> raw;
        for (const auto& item : items) raw.push_back(item.get());
        com_ptr<IAsyncOperation<UpdateResult>> operation;
        zorvik::rt::check_hresult(
            archive->AddAsync(static_cast<std::uint32_t>(raw.size()), raw.data(), callback, destination, operation.put()));
        return operation;
    };
}

// Archives in the scratch folder of Extraction, plus an implicit folder (imp, imp/deep) that no
// entry names.
class Updating : public Extraction {
protected:
    void SetUp() override {
        Extraction::SetUp();
        fs::create_directories(Path("tree/imp/deep"));
        Write("tree/imp/deep/only.txt", "only\n");
    }

    // The tree made with a real archiver: 7zz for .7z (non-solid), zip for .zip.
    void MakeBase(const std::string& file) {
        const std::string entries = " a noise.bin zero.txt empty imp/deep/only.txt";
        Run(fs::path(file).extension() == ".zip" ? "cd tree && zip -qr ../" + file + entries
                                                 : "cd tree && 7zz a -bd -ms=off ../" + file + entries);
    }

    // Runs an update into the file out, created afresh; failures and cancels are raised.
    UpdateResult WriteInto(const std::string& out, const UpdateStart& start) {
        const auto destination = zorvik::rt::open_file_stream(Path(out).wstring(), ABI::Windows::Storage::FileAccessMode::ReadWrite,
                                                              ABI::Windows::Storage::FileCreationDisposition::CreateAlways);
        return zorvik::rt::get(start(destination.get()));
    }
};

}  // namespace Zorvik::Testing
