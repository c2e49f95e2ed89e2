// Writing archives through the public ABI, each result read back by 7zz: the update cases on 7z
// and zip, conflicts, compression choices, passwords, and what an update copies untouched.
#include "archive/FileLock.h"
#include "archive/tests/UpdateTesting.h"
#include "zorvik/Edit.h"

namespace Zorvik::Testing {
namespace {

using Operation = std::function<UpdateStart(IArchive* archive, IUpdateCallback* callback)>;

UpdateStart Remove(IArchive* archive, std::vector<com_ptr<IArchiveItem>> items, IUpdateCallback* callback) {
    return [=](IRandomAccessStream* destination) {
        std::vector<IArchiveItem*> raw;
        for (const auto& item : items) raw.push_back(item.get());
        com_ptr<IAsyncOperation<UpdateResult>> operation;
        zorvik::rt::check_hresult(
            archive->RemoveAsync(static_cast<std::uint32_t>(raw.size()), raw.data(), callback, destination, operation.put()));
        return operation;
    };
}

UpdateStart Rename(IArchive* archive, com_ptr<IArchiveItem> item, std::wstring name, IUpdateCallback* callback) {
    return [=](IRandomAccessStream* destination) {
        com_ptr<IAsyncOperation<UpdateResult>> operation;
        zorvik::rt::check_hresult(
            archive->RenameAsync(item.get(), zorvik::rt::hstring(name).get(), callback, destination, operation.put()));
        return operation;
    };
}

UpdateStart Move(IArchive* archive, com_ptr<IArchiveItem> item, com_ptr<IArchiveFolder> target, IUpdateCallback* callback) {
    return [=](IRandomAccessStream* destination) {
        IArchiveItem* raw = item.get();
        com_ptr<IAsyncOperation<UpdateResult>> operation;
        zorvik::rt::check_hresult(archive->MoveAsync(1, &raw, target.get(), callback, destination, operation.put()));
        return operation;
    };
}

// The changes of one IArchiveEdit pass, items named by path ("" for the root).
struct EditList {
    std::vector<std::string> remove;
    std::vector<std::pair<std::string, std::wstring>> rename;
    std::vector<std::pair<std::string, std::string>> move;  // item, target folder
    std::vector<com_ptr<archive_addable>> add;
};

UpdateStart Edit(IArchive* archive, const EditList& edits, IUpdateCallback* callback) {
    return [=](IRandomAccessStream* destination) {
        std::vector<com_ptr<IArchiveItem>> held;  // keeps the raw pointers below alive
        const auto raw = [&](const std::string& path) { return held.emplace_back(Node(archive, path)).get(); };
        std::vector<IArchiveItem*> removed, renamed, moved;
        std::vector<zorvik::rt::hstring> names;
        std::vector<HSTRING> rawNames;
        std::vector<IArchiveFolder*> targets;
        std::vector<IArchiveAddable*> added;
        for (const auto& path : edits.remove) removed.push_back(raw(path));
        for (const auto& [path, name] : edits.rename) {
            renamed.push_back(raw(path));
            names.emplace_back(name);
        }
        for (const auto& name : names) rawNames.push_back(name.get());
        for (const auto& [path, target] : edits.move) {
            moved.push_back(raw(path));
            targets.push_back(target.empty() ? nullptr : held.emplace_back(Node(archive, target)).as<IArchiveFolder>().get());
        }
        for (const auto& item : edits.add) added.push_back(item.get());
        com_ptr<IAsyncOperation<UpdateResult>> operation;
        zorvik::rt::check_hresult(com_ptr<IArchive>::copy_from(archive).as<IArchiveEdit>()->EditAsync(
            static_cast<std::uint32_t>(removed.size()), removed.data(), static_cast<std::uint32_t>(renamed.size()), renamed.data(),
            rawNames.data(), static_cast<std::uint32_t>(moved.size()), moved.data(), targets.data(),
            static_cast<std::uint32_t>(added.size()), added.data(), callback, destination, operation.put()));
        return operation;
    };
}

// Content whose reads fail once half of it has been read, as a file on a failing disk would.
class FailingContent final : public ForwardingStream<FailingContent, IInputStream> {
public:
    explicit FailingContent(const std::string& content) : ForwardingStream(MemoryStreamOf(content)), failAt_(content.size() / 2) {}

    HRESULT ReadAsync(IBuffer* buffer, std::uint32_t count, InputStreamOptions options, IAsyncOperation<IBuffer*>** operation) override {
        std::uint64_t position = 0;
        inner_->get_Position(&position);
        if (position < failAt_)
            return inner_.as<IInputStream>()->ReadAsync(buffer, std::min<std::uint32_t>(count, 4096), options, operation);
        *operation = zorvik::rt::run_async<IBuffer*>([] {
                         zorvik::rt::throw_hresult(E_FAIL);
                         return com_ptr<IBuffer>();
                     }).detach();
        return S_OK;
    }

private:
    std::uint64_t failAt_;
};

std::string ContentIn(const fs::path& archive, const std::string& path, const std::string& password = "-") {
    return Capture("7zz e -so -p'" + password + "' '" + archive.string() + "' '" + path + "'").first;
}

class UpdateCases : public Updating, public ::testing::WithParamInterface<std::string> {
protected:
    void SetUp() override {
        Updating::SetUp();
        Write("tree/a/b(1).txt", "bee one\n");
        MakeBase(Base());
        baseline_ = PathsOf(SevenZipList(Path(Base())));
    }
    std::string Base() const { return "base." + GetParam(); }
    std::string Out() const { return "out." + GetParam(); }

    // The base listing without removed, with added.
    std::vector<std::string> Changed(const std::vector<std::string>& removed, const std::vector<std::string>& added) const {
        std::vector<std::string> paths;
        for (const auto& path : baseline_)
            if (std::find(removed.begin(), removed.end(), path) == removed.end()) paths.push_back(path);
        paths.insert(paths.end(), added.begin(), added.end());
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    std::vector<std::string> baseline_;
};

struct EditCase {
    const char* label;
    Operation operation;
    std::vector<std::string> removed;
    std::vector<std::string> added;
};

TEST_P(UpdateCases, EditsLeaveWhat7zzExpects) {
    const EditCase cases[] = {
        {"add into a folder",
         [](IArchive* a, IUpdateCallback* c) { return Add(a, {Addable(L"a/c/new.txt", "new\n")}, c); },
         {},
         {"a/c/new.txt"}},
        {"folder over a folder", [](IArchive* a, IUpdateCallback* c) { return Add(a, {Folder(L"a")}, c); }, {}, {}},
        {"remove a file", [](IArchive* a, IUpdateCallback* c) { return Remove(a, {Node(a, "a/b.txt")}, c); }, {"a/b.txt"}, {}},
        {"remove a folder",
         [](IArchive* a, IUpdateCallback* c) { return Remove(a, {Node(a, "a")}, c); },
         {"a/", "a/b.txt", "a/b(1).txt", "a/c/", "a/c/d.txt"},
         {}},
        {"remove an implicit folder",
         [](IArchive* a, IUpdateCallback* c) { return Remove(a, {Node(a, "imp")}, c); },
         {"imp/deep/only.txt"},
         {}},
        {"rename a file",
         [](IArchive* a, IUpdateCallback* c) { return Rename(a, Node(a, "a/b.txt"), L"x.txt", c); },
         {"a/b.txt"},
         {"a/x.txt"}},
        {"rename a folder",
         [](IArchive* a, IUpdateCallback* c) { return Rename(a, Node(a, "a/c"), L"e", c); },
         {"a/c/", "a/c/d.txt"},
         {"a/e/", "a/e/d.txt"}},
        {"rename an implicit folder",
         [](IArchive* a, IUpdateCallback* c) { return Rename(a, Node(a, "imp"), L"moved", c); },
         {"imp/deep/only.txt"},
         {"moved/deep/only.txt"}},
        {"rename in the root, letter case only",
         [](IArchive* a, IUpdateCallback* c) { return Rename(a, Node(a, "zero.txt"), L"ZERO.txt", c); },
         {"zero.txt"},
         {"ZERO.txt"}},
        {"move into a folder",
         [](IArchive* a, IUpdateCallback* c) { return Move(a, Node(a, "a/b.txt"), Node(a, "empty").as<IArchiveFolder>(), c); },
         {"a/b.txt"},
         {"empty/b.txt"}},
        {"move to the root",
         [](IArchive* a, IUpdateCallback* c) { return Move(a, Node(a, "a/c/d.txt"), nullptr, c); },
         {"a/c/d.txt"},
         {"d.txt"}},
    };
    for (const EditCase& edit : cases) {
        SCOPED_TRACE(edit.label);
        auto archive = Opened(Base());
        UpdateHeard heard;
        const auto callback = UpdateRecorder(heard);
        ASSERT_EQ(WriteInto(Out(), edit.operation(archive.get(), callback.get())), UpdateResult::Success);
        EXPECT_TRUE(SevenZipTests(Path(Out())));
        EXPECT_EQ(PathsOf(SevenZipList(Path(Out()))), Changed(edit.removed, edit.added));
        EXPECT_EQ(heard.conflicts.size(), 0u);
        EXPECT_EQ(PathsOf(SevenZipList(Path(Base()))), baseline_) << "the open archive is never written";
    }
    EXPECT_EQ(ContentIn(Path(Out()), "d.txt"), std::string(3000, 'd')) << "moved, not lost";
}

struct OnePassCase {
    const char* label;
    EditList edits;
    std::vector<std::string> removed;
    std::vector<std::string> added;
    std::size_t questions;  // each answered Replace
    std::map<std::string, std::string> contents;
};

TEST_P(UpdateCases, SeveralChangesInOnePassSeeTheTreeAsTheyLeaveIt) {
    const OnePassCase cases[] = {
        {"add a file and rename another",
         {.rename = {{"zero.txt", L"none.txt"}}, .add = {Addable(L"a/new.txt", "new\n")}},
         {"zero.txt"},
         {"none.txt", "a/new.txt"},
         0,
         {{"a/new.txt", "new\n"}}},
        {"swap two names",
         {.rename = {{"a/b.txt", L"b(1).txt"}, {"a/b(1).txt", L"b.txt"}}},
         {},
         {},
         0,
         {{"a/b.txt", "bee one\n"}, {"a/b(1).txt", "bee\n"}}},
        {"new content where a renamed entry was",
         {.rename = {{"a/b.txt", L"old.txt"}}, .add = {Addable(L"a/b.txt", "new\n")}},
         {},
         {"a/old.txt"},
         0,
         {{"a/b.txt", "new\n"}, {"a/old.txt", "bee\n"}}},
        {"new content over a renamed entry's new name",
         {.rename = {{"a/b.txt", L"x.txt"}}, .add = {Addable(L"a/x.txt", "new\n")}},
         {"a/b.txt"},
         {"a/x.txt"},
         1,
         {{"a/x.txt", "new\n"}}},
        {"remove, move and add",
         {.remove = {"a/c"}, .move = {{"a/b.txt", ""}}, .add = {Addable(L"a/c/new.txt", "new\n")}},
         {"a/b.txt", "a/c/", "a/c/d.txt"},
         {"b.txt", "a/c/new.txt"},
         0,
         {{"b.txt", "bee\n"}}},
    };
    for (const OnePassCase& edit : cases) {
        SCOPED_TRACE(edit.label);
        auto archive = Opened(Base());
        UpdateHeard heard;
        const auto callback = UpdateRecorder(heard, [](int) { return ConflictAnswer::Replace; });
        ASSERT_EQ(WriteInto(Out(), Edit(archive.get(), edit.edits, callback.get())), UpdateResult::Success);
        EXPECT_TRUE(SevenZipTests(Path(Out())));
        EXPECT_EQ(PathsOf(SevenZipList(Path(Out()))), Changed(edit.removed, edit.added));
        EXPECT_EQ(heard.conflicts.size(), edit.questions);
        for (const auto& [path, content] : edit.contents) EXPECT_EQ(ContentIn(Path(Out()), path), content) << path;
    }

    auto archive = Opened(Base());
    UpdateHeard heard;
    const auto callback = UpdateRecorder(heard);
    EXPECT_THROW(WriteInto(Out(), Edit(archive.get(), {.rename = {{"a/b.txt", L"x.txt"}}, .move = {{"a/b.txt", "empty"}}}, callback.get())),
                 zorvik::rt::invalid_argument_error)
        << "an entry changed twice";
    EXPECT_THROW(WriteInto(Out(), Edit(archive.get(), {.remove = {"a"}, .rename = {{"a/b.txt", L"x.txt"}}}, callback.get())),
                 zorvik::rt::invalid_argument_error)
        << "an entry both removed and renamed";
    EXPECT_EQ(WriteInto(Out(), Edit(archive.get(), {.rename = {{"", L"x"}}}, callback.get())), UpdateResult::Failure);
    EXPECT_EQ(heard.failures, (std::vector<HRESULT>{E_INVALIDARG})) << "the root has no name to change";
}

struct ConflictCase {
    const char* label;
    std::function<std::int32_t(int question)> answer;
    UpdateResult result;
    std::vector<std::string> added;
    std::size_t questions;
    const char* bContent;  // a/b.txt afterwards
};

TEST_P(UpdateCases, ConflictsAreAnsweredByTheCaller) {
    const ConflictCase cases[] = {
        {"replace", [](int) { return ConflictAnswer::Replace; }, UpdateResult::Success, {}, 1, "new\n"},
        {"skip", [](int) { return ConflictAnswer::Skip; }, UpdateResult::NothingToUpdate, {}, 1, "bee\n"},
        {"check again, then replace",
         [](int n) { return n == 1 ? ConflictAnswer::CheckAgain : ConflictAnswer::Replace; },
         UpdateResult::Success,
         {},
         2,
         "new\n"},
        {"another name, past one taken already",
         [](int) { return ConflictAnswer::AddUnderOtherName; },
         UpdateResult::Success,
         {"a/b(2).txt"},
         1,
         "bee\n"},
    };
    for (const ConflictCase& conflict : cases) {
        SCOPED_TRACE(conflict.label);
        auto archive = Opened(Base());
        UpdateHeard heard;
        const auto callback = UpdateRecorder(heard, conflict.answer);
        ASSERT_EQ(WriteInto(Out(), Add(archive.get(), {Addable(L"a/b.txt", "new\n")}, callback.get())), conflict.result);
        EXPECT_EQ(heard.conflicts.size(), conflict.questions);
        if (conflict.result != UpdateResult::Success) continue;
        EXPECT_EQ(PathsOf(SevenZipList(Path(Out()))), Changed({}, conflict.added));
        EXPECT_EQ(ContentIn(Path(Out()), "a/b.txt"), conflict.bContent);
    }

    auto archive = Opened(Base());
    UpdateHeard canceled;
    const auto callback = UpdateRecorder(canceled);
    EXPECT_THROW(WriteInto(Out(), Add(archive.get(), {Addable(L"a/b.txt", "new\n")}, callback.get())), zorvik::rt::canceled_error);

    UpdateHeard replaced;
    const auto replacing = UpdateRecorder(replaced, [](int) { return ConflictAnswer::Replace; });
    ASSERT_EQ(WriteInto(Out(), Add(archive.get(), {Addable(L"a", "a file")}, replacing.get())), UpdateResult::Success);
    EXPECT_EQ(PathsOf(SevenZipList(Path(Out()))), Changed({"a/", "a/b.txt", "a/b(1).txt", "a/c/", "a/c/d.txt"}, {"a"}))
        << "a file replacing a folder takes what the folder held with it";
}

TEST_P(UpdateCases, AFileWhereAFolderIsNeededWritesNothing) {
    auto archive = Opened(Base());
    UpdateHeard heard;
    const auto callback = UpdateRecorder(heard);
    EXPECT_THROW(WriteInto(Out(), Add(archive.get(), {Addable(L"zero.txt/x.txt", "x")}, callback.get())), zorvik::rt::canceled_error);
    EXPECT_EQ(heard.blocked, (std::vector<std::string>{"zero.txt"}));
    EXPECT_EQ(fs::file_size(Path(Out())), 0u);
}

TEST_P(UpdateCases, NothingToDoTakesNoLockAndABusyArchiveWritesNothing) {
    auto archive = Opened(Base());
    UpdateHeard heard;
    const auto callback = UpdateRecorder(heard);
    ASSERT_EQ(WriteInto(Out(), Rename(archive.get(), Node(archive.get(), ""), L"x", callback.get())), UpdateResult::Failure)
        << "the root has no name to change";

    Impl::FileLock held(Path(Base()).wstring());
    ASSERT_TRUE(held.TryAcquire());
    EXPECT_EQ(WriteInto(Out(), Add(archive.get(), {}, callback.get())), UpdateResult::NothingToUpdate);
    try {
        WriteInto(Out(), Remove(archive.get(), {Node(archive.get(), "zero.txt")}, callback.get()));
        ADD_FAILURE() << "the update ran beside another operation";
    } catch (const zorvik::rt::hresult_error& error) {
        EXPECT_EQ(error.code(), HRESULT_FROM_WIN32(ERROR_BUSY));
    }
    EXPECT_EQ(fs::file_size(Path(Out())), 0u);
    held.Release();
}

INSTANTIATE_TEST_SUITE_P(SevenZipAndZip, UpdateCases, ::testing::Values("7z", "zip"));

// Compression choices of a new archive, as 7zz reads them back.
struct Choice {
    const char* file;
    std::optional<CompressionMethod> method;
    CompressionLevel level;
    std::optional<EncryptionMethod> cipher;  // with a password
    bool encryptHeaders;
    bool solid;
    const char* shownMethod;  // what the method 7zz shows starts with (gzip and bzip2 show none)
};

TEST_F(Updating, EveryCatalogueChoiceIsWhat7zzReads) {
    using M = CompressionMethod;
    using L = CompressionLevel;
    const Choice choices[] = {
        {"lzma.7z", M::LZMA, L::Normal, {}, false, false, "LZMA:"},
        {"lzma2.7z", M::LZMA2, L::Ultra, {}, false, true, "LZMA2:"},
        {"ppmd.7z", M::PPMd, L::Fast, {}, false, false, "PPMD:"},
        {"bzip2.7z", M::BZip2, L::Fastest, {}, false, false, "BZip2"},
        {"store.7z", M::LZMA, L::Store, {}, false, false, "Copy"},
        {"aes.7z", M::LZMA2, L::Normal, EncryptionMethod::AES256, false, false, "LZMA2:"},
        {"headers.7z", M::LZMA2, L::Normal, EncryptionMethod::AES256, true, true, "LZMA2:"},
        {"deflate.zip", M::Deflate, L::Normal, {}, false, false, "Deflate"},
        {"deflate64.zip", M::Deflate64, L::Maximum, {}, false, false, "Deflate64"},
        {"bzip2.zip", M::BZip2, L::Normal, {}, false, false, "BZip2"},
        {"lzma.zip", M::LZMA, L::Normal, {}, false, false, "LZMA"},
        {"ppmd.zip", M::PPMd, L::Normal, {}, false, false, "PPMd"},
        {"store.zip", M::Deflate, L::Store, {}, false, false, "Store"},
        {"zipcrypto.zip", M::Deflate, L::Normal, EncryptionMethod::ZipCrypto, false, false, "ZipCrypto Deflate"},
        {"aes.zip", M::Deflate, L::Normal, EncryptionMethod::AES256, false, false, "AES-256 Deflate"},
        {"one.gz", M::Deflate, L::Maximum, {}, false, false, ""},
        {"one.bz2", M::BZip2, L::Fastest, {}, false, false, ""},
        {"one.xz", M::LZMA2, L::Fast, {}, false, false, "LZMA2:"},
        {"plain.tar", {}, L::Store, {}, false, false, ""},
    };
    const std::string text(20000, 't');
    for (const Choice& choice : choices) {
        SCOPED_TRACE(choice.file);
        auto archive = NewArchive();
        com_ptr<IAsyncOperation<bool>> creation;
        const auto destination = zorvik::rt::open_file_stream(Path(choice.file).wstring(), ABI::Windows::Storage::FileAccessMode::ReadWrite,
                                                              ABI::Windows::Storage::FileCreationDisposition::CreateAlways);
        ASSERT_EQ(archive->CreateAsync(destination.get(), SourceFor(Path(choice.file)).get(), creation.put()), S_OK);
        ASSERT_TRUE(zorvik::rt::get(creation));
        com_ptr<ICompressionOptions> options;
        ASSERT_EQ(archive->get_CompressionOptions(options.put()), S_OK);
        if (choice.method) options->put_CompressionMethod(*choice.method);
        options->put_CompressionLevel(choice.level);
        options->put_UseEncryption(choice.cipher.has_value());
        if (choice.cipher) options->put_EncryptionMethod(*choice.cipher);
        options->put_EncryptHeaders(choice.encryptHeaders);
        options->put_IsSolid(choice.solid);

        const bool single = std::string(choice.file).rfind("one.", 0) == 0;
        const auto items =
            single ? std::vector{Addable(L"one.txt", text)} : std::vector{Addable(L"one.txt", text), Addable(L"two.txt", text + "2")};
        UpdateHeard heard;
        const auto callback = UpdateRecorder(heard, {}, choice.cipher ? std::optional<std::wstring>(L"secret") : std::nullopt);
        ASSERT_EQ(WriteInto(choice.file, Add(archive.get(), items, callback.get())), UpdateResult::Success);

        const std::string password = choice.cipher ? "secret" : "-";
        const auto listed = SevenZipList(Path(choice.file), password);
        ASSERT_EQ(listed.size(), items.size());
        EXPECT_TRUE(SevenZipTests(Path(choice.file), password));
        EXPECT_NE(listed[0].method.find(choice.shownMethod), std::string::npos) << listed[0].method;  // after any filter the engine chose
        EXPECT_EQ(listed[0].encrypted, choice.cipher.has_value());
        if (choice.cipher) {
            EXPECT_FALSE(SevenZipTests(Path(choice.file), "wrong"));
        }
        EXPECT_EQ(SevenZipList(Path(choice.file)).empty(), choice.encryptHeaders) << "names are hidden only with encrypted headers";
        if (!listed[0].block.empty()) {
            EXPECT_EQ(listed[0].block == listed[1].block, choice.solid) << "solid";
        }
    }
}

TEST_F(Updating, KeptEntriesAreCopiedNotRecompressed) {
    Run("cd tree && 7zz a -bd -ms=off -m0=BZip2 ../bz.7z a noise.bin zero.txt");
    auto archive = Opened("bz.7z");
    com_ptr<ICompressionOptions> options;
    ASSERT_EQ(archive->get_CompressionOptions(options.put()), S_OK);
    options->put_CompressionLevel(CompressionLevel::Store);  // what new data would get
    UpdateHeard heard;
    const auto callback = UpdateRecorder(heard);
    ASSERT_EQ(WriteInto("renamed.7z", Rename(archive.get(), Node(archive.get(), "a/b.txt"), L"x.txt", callback.get())),
              UpdateResult::Success);

    const auto before = SevenZipList(Path("bz.7z"));
    const auto after = SevenZipList(Path("renamed.7z"));
    ASSERT_EQ(after.size(), before.size());
    std::uint64_t packed = 0;
    for (std::size_t i = 0; i < before.size(); ++i) {
        const auto same = std::find_if(after.begin(), after.end(), [&](const ListedEntry& entry) {
            return entry.crc == before[i].crc && entry.size == before[i].size;
        });
        ASSERT_NE(same, after.end()) << before[i].path;
        EXPECT_EQ(same->method, before[i].method) << before[i].path;
        EXPECT_EQ(same->packedSize, before[i].packedSize) << before[i].path;
        packed += before[i].packedSize;
    }
    // The packed streams follow the 32-byte signature header, byte for byte as they were.
    const std::string old = ReadFile(Path("bz.7z")), rewritten = ReadFile(Path("renamed.7z"));
    EXPECT_EQ(old.substr(32, packed), rewritten.substr(32, packed));
}

TEST_F(Updating, NewDataAndHiddenNamesGetThePasswordTheArchiveWasOpenedWith) {
    Run("cd tree && 7zz a -bd -psecret -mhe=on ../locked.7z a zero.txt");
    archive_source_hooks hooks{.request_password = [] { return password_answer::given(L"secret"); }};
    auto archive = NewArchive();
    ASSERT_TRUE(OpenArchive(archive.get(), Path("locked.7z"), hooks));

    UpdateHeard adding;
    const auto addCallback = UpdateRecorder(adding);
    ASSERT_EQ(WriteInto("added.7z", Add(archive.get(), {Addable(L"new.txt", "new")}, addCallback.get())), UpdateResult::Success);
    EXPECT_EQ(adding.passwordRequests, 0) << "the archive's password is used unasked";
    const auto listed = SevenZipList(Path("added.7z"), "secret");
    const auto added = std::find_if(listed.begin(), listed.end(), [](const ListedEntry& entry) { return entry.path == "new.txt"; });
    ASSERT_NE(added, listed.end());
    EXPECT_TRUE(added->encrypted);
    EXPECT_EQ(ContentIn(Path("added.7z"), "new.txt", "secret"), "new");
    EXPECT_FALSE(SevenZipTests(Path("added.7z"), "wrong"));

    UpdateHeard renaming;
    const auto renameCallback = UpdateRecorder(renaming);
    ASSERT_EQ(WriteInto("renamed.7z", Rename(archive.get(), Node(archive.get(), "zero.txt"), L"none.txt", renameCallback.get())),
              UpdateResult::Success);
    EXPECT_EQ(renaming.passwordRequests, 0) << "the names it hid are hidden again with it, unasked";
    EXPECT_TRUE(SevenZipTests(Path("renamed.7z"), "secret"));

    // Whatever an update writes, hidden names stay hidden unless the caller's options say so.
    const std::pair<const char*, UpdateStart> updates[] = {
        {"added.7z", {}},
        {"renamed.7z", {}},
        {"removed.7z", Remove(archive.get(), {Node(archive.get(), "a/b.txt")}, renameCallback.get())}};
    ASSERT_EQ(WriteInto(updates[2].first, updates[2].second), UpdateResult::Success);
    for (const auto& [written, update] : updates) {
        SCOPED_TRACE(written);
        EXPECT_TRUE(SevenZipList(Path(written)).empty()) << "names listed without the password";
        EXPECT_FALSE(SevenZipList(Path(written), "secret").empty());
    }

    com_ptr<ICompressionOptions> options;
    ASSERT_EQ(archive->get_CompressionOptions(options.put()), S_OK);
    ASSERT_EQ(options->put_EncryptHeaders(false), S_OK);
    UpdateHeard shown;
    const auto showCallback = UpdateRecorder(shown);
    ASSERT_EQ(WriteInto("shown.7z", Rename(archive.get(), Node(archive.get(), "zero.txt"), L"none.txt", showCallback.get())),
              UpdateResult::Success);
    EXPECT_EQ(shown.passwordRequests, 1) << "without new data or hidden names the caller is asked, once";
    EXPECT_FALSE(SevenZipList(Path("shown.7z")).empty()) << "the caller asked for the names to show";
}

TEST_F(Updating, WhatNoOneAskedToChangeStaysAsItWas) {
    // An entry without a name, which the tree does not show, and a file with its own mode.
    Run("cd tree && chmod 755 a/b.txt && 7zz a -bd -ms=off ../kept.7z a/b.txt zero.txt");
    Run("7zz a -bd -si kept.7z < tree/noise.bin");
    auto archive = Opened("kept.7z");
    UpdateHeard heard;
    const auto callback = UpdateRecorder(heard);
    ASSERT_EQ(WriteInto("out.7z", Rename(archive.get(), Node(archive.get(), "a/b.txt"), L"run", callback.get())), UpdateResult::Success);
    const auto listed = SevenZipList(Path("out.7z"));
    EXPECT_EQ(listed.size(), SevenZipList(Path("kept.7z")).size()) << "the nameless entry is carried over";
    const auto renamed = std::find_if(listed.begin(), listed.end(), [](const ListedEntry& entry) { return entry.path == "a/run"; });
    ASSERT_NE(renamed, listed.end());
    EXPECT_NE(renamed->attributes.find("-rwxr-xr-x"), std::string::npos) << renamed->attributes;

    auto tar = NewArchive();
    com_ptr<IAsyncOperation<bool>> creation;
    ASSERT_EQ(tar->CreateAsync(zorvik::rt::make_in_memory_stream().get(), SourceFor(Path("modes.tar")).get(), creation.put()), S_OK);
    ASSERT_TRUE(zorvik::rt::get(creation));
    ASSERT_EQ(WriteInto("modes.tar", Add(tar.get(), {Addable(L"tool", "#!/bin/sh\n", 0100755), Addable(L"plain", "text")}, callback.get())),
              UpdateResult::Success);
    const auto modes = SevenZipList(Path("modes.tar"));
    ASSERT_EQ(modes.size(), 2u);
    EXPECT_EQ(modes[0].attributes, "-rwxr-xr-x");
    EXPECT_EQ(modes[1].attributes, "-rw-r--r--") << "no mode given: owner-writable, not 0777";
}

TEST_F(Updating, ALinkIsStoredAsALinkKeptSoByARenameAndWhatCannotBeOneIsRefused) {
    auto tar = NewArchive();
    com_ptr<IAsyncOperation<bool>> creation;
    ASSERT_EQ(tar->CreateAsync(zorvik::rt::make_in_memory_stream().get(), SourceFor(Path("links.tar")).get(), creation.put()), S_OK);
    ASSERT_TRUE(zorvik::rt::get(creation));
    UpdateHeard heard;
    const auto callback = UpdateRecorder(heard);
    const auto link = make_archive_addable({.path = L"link", .modified = 133000000000000000, .symbolic_link_target = L"a/b.txt"});
    ASSERT_EQ(WriteInto("links.tar", Add(tar.get(), {link}, callback.get())), UpdateResult::Success);
    auto archive = Opened("links.tar");
    ASSERT_EQ(WriteInto("renamed.tar", Rename(archive.get(), Node(archive.get(), "link"), L"moved", callback.get())),
              UpdateResult::Success);
    const std::string listed = Capture("tar -tvf '" + Path("renamed.tar").string() + "'").first;
    EXPECT_EQ(listed.rfind("lrwxrwxrwx ", 0), 0u) << listed;
    EXPECT_NE(listed.find(" moved -> a/b.txt\n"), std::string::npos) << listed;

    struct NoLink {
        const char* label;
        addable_description description;
    };
    const NoLink refused[] = {
        {"a link mode without a target", {.path = L"x", .mode = S_IFLNK | 0777}},
        {"a folder with a target", {.path = L"x", .is_folder = true, .symbolic_link_target = L"a"}},
        {"a target with a NUL", {.path = L"x", .symbolic_link_target = std::wstring(L"a\0b", 3)}},
    };
    for (const NoLink& noLink : refused) {
        SCOPED_TRACE(noLink.label);
        EXPECT_THROW(WriteInto("refused.tar", Add(archive.get(), {make_archive_addable(noLink.description)}, callback.get())),
                     zorvik::rt::invalid_argument_error);
    }
}

TEST_F(Updating, UnreadableContentOrACancelWritesNoArchive) {
    Run("cd tree && 7zz a -bd ../base.7z a");
    auto archive = Opened("base.7z");
    UpdateHeard heard;
    const auto callback = UpdateRecorder(heard);
    const std::string content = ReadFile(Path("tree/noise.bin"));
    auto unreadable = make_archive_addable({.path = L"noise.bin", .size = content.size()},
                                           [&] { return zorvik::rt::make<FailingContent>(content).as<IRandomAccessStream>(); });
    EXPECT_EQ(WriteInto("out.7z", Add(archive.get(), {unreadable}, callback.get())), UpdateResult::Failure)
        << "a read failure is no end of the data: the entry would be cut short";

    const auto canceling = make_update_callback({.set_completed = [](std::uint64_t done) { return done > 0 ? 1 : 0; }});
    EXPECT_THROW(WriteInto("out.7z", Add(archive.get(), {Addable(L"noise.bin", content)}, canceling.get())), zorvik::rt::canceled_error);
}

TEST_F(Updating, WhatCannotBeWrittenBackFails) {
    // A tar read out of a compressed stream would come back as a plain tar, its compression lost.
    struct Unwritable {
        const char* archive;
        const char* make;
    };
    const Unwritable cases[] = {
        {"r.rar", "cd tree && rar a -idq ../r.rar a"},
        {"t.tgz", "cd tree && tar -czf ../t.tgz a"},
        {"t.tar.xz", "cd tree && tar -cJf ../t.tar.xz a"},
    };
    for (const Unwritable& unwritable : cases) {
        SCOPED_TRACE(unwritable.archive);
        if (std::string(unwritable.archive).ends_with(".rar") && !Capture("command -v rar").second) continue;
        Run(unwritable.make);
        auto archive = Opened(unwritable.archive);
        bool canUpdate = true;
        ASSERT_EQ(archive->get_CanUpdate(&canUpdate), S_OK);
        EXPECT_FALSE(canUpdate);
        UpdateHeard heard;
        const auto callback = UpdateRecorder(heard);
        const std::string out = std::string("out-") + unwritable.archive;
        EXPECT_EQ(WriteInto(out, Add(archive.get(), {Addable(L"x", "x")}, callback.get())), UpdateResult::Failure);
        EXPECT_EQ(WriteInto(out, Remove(archive.get(), {Node(archive.get(), "a/b.txt")}, callback.get())), UpdateResult::Failure);
        EXPECT_EQ(fs::file_size(Path(out)), 0u);
        EXPECT_EQ(heard.failures, (std::vector<HRESULT>{E_NOTIMPL, E_NOTIMPL})) << "each failure is told why";
    }
}

}  // namespace
}  // namespace Zorvik::Testing
