// What an operation is given to work on, checked before anything is written: what two items of
// one update would make of one path, on archives that 7zz, bsdtar, Info-ZIP and the component
// made, and items that are not of the archive's tree at all.
#include "archive/tests/UpdateTesting.h"

namespace Zorvik::Testing {
namespace {

UpdateStart Move(IArchive* archive, std::vector<com_ptr<IArchiveItem>> items, com_ptr<IArchiveFolder> target, IUpdateCallback* callback) {
    return [=](IRandomAccessStream* destination) {
        std::vector<IArchiveItem*> raw;
        for (const auto& item : items) raw.push_back(item.get());
        com_ptr<IAsyncOperation<UpdateResult>> operation;
        zorvik::rt::check_hresult(
            archive->MoveAsync(static_cast<std::uint32_t>(raw.size()), raw.data(), target.get(), callback, destination, operation.put()));
        return operation;
    };
}

// The files 7zz lists, each with its content. The short listing marks every folder, whether
// the archive records attributes or not: "DATE TIME ATTRS SIZE PACKED NAME" in fixed columns.
std::map<std::string, std::string> FilesIn(const fs::path& archive) {
    std::map<std::string, std::string> files;
    std::istringstream lines(Capture("7zz l -ba '" + archive.string() + "'").first);
    for (std::string line; std::getline(lines, line);) {
        if (line.size() <= 53 || line[20] == 'D') continue;
        const std::string path = line.substr(53);
        files[path] = Capture("7zz e -so '" + archive.string() + "' '" + path + "'").first;
    }
    return files;
}

enum class Outcome { Written, Refused };

struct DuplicatingPlan {
    const char* label;
    std::function<UpdateStart(IArchive*, IUpdateCallback*)> operation;
    std::int32_t answer;  // to every question
    Outcome outcome;
    std::vector<std::string> questions;        // the paths asked about
    std::map<std::string, std::string> files;  // afterwards; the base's unless named
};

class DuplicatePaths : public Updating {
protected:
    // x/f.txt and y/f.txt, which a move would bring together, z/f.txt, which it could meet,
    // and an empty w.
    void SetUp() override {
        Updating::SetUp();
        for (const auto& [path, content] : kBase) {
            fs::create_directories(Path("dup/" + path).parent_path());
            Write("dup/" + path, content);
        }
    }

    inline static const std::map<std::string, std::string> kBase = {
        {"w/keep.txt", "keep\n"}, {"x/f.txt", "from x\n"}, {"y/f.txt", "from y\n"}, {"z/f.txt", "in z\n"}};

    static std::map<std::string, std::string> Changed(std::vector<std::string> gone, std::map<std::string, std::string> added) {
        std::map<std::string, std::string> files = kBase;
        for (const auto& path : gone) files.erase(path);
        for (auto& [path, content] : added) files[path] = content;
        return files;
    }

    // The base written by the component itself.
    void WriteOurs(const std::string& file) {
        auto archive = NewArchive();
        com_ptr<IAsyncOperation<bool>> creation;
        ASSERT_EQ(archive->CreateAsync(zorvik::rt::make_in_memory_stream().get(), SourceFor(Path(file)).get(), creation.put()), S_OK);
        ASSERT_TRUE(zorvik::rt::get(creation));
        std::vector<com_ptr<archive_addable>> items;
        for (const auto& [path, content] : kBase) items.push_back(Addable(zorvik::rt::to_wide(path), content));
        UpdateHeard heard;
        ASSERT_EQ(WriteInto(file, Add(archive.get(), items, UpdateRecorder(heard).get())), UpdateResult::Success);
    }
};

TEST_F(DuplicatePaths, APlanThatWouldWriteOnePathTwiceAsksOrIsRefused) {
    namespace A = ConflictAnswer;
    const auto node = [](IArchive* a, const char* path) { return Node(a, path); };
    const auto folder = [](IArchive* a, const char* path) { return Node(a, path).as<IArchiveFolder>(); };
    const auto intoW = [=](IArchive* a, IUpdateCallback* c) {
        return Move(a, {node(a, "x/f.txt"), node(a, "y/f.txt")}, folder(a, "w"), c);
    };
    const auto intoZ = [=](IArchive* a, IUpdateCallback* c) {
        return Move(a, {node(a, "x/f.txt"), node(a, "y/f.txt")}, folder(a, "z"), c);
    };
    const DuplicatingPlan plans[] = {
        {"two added items of one path",
         [](IArchive* a, IUpdateCallback* c) {
             return Add(a, {Addable(L"n.txt", "1"), Addable(L"n.txt", "2")}, c);
         },
         A::Replace,
         Outcome::Refused,
         {},
         {}},
        {"two added paths that are one once normalised",
         [](IArchive* a, IUpdateCallback* c) {
             return Add(a, {Addable(L"w//n.txt", "1"), Addable(L"./w/n.txt/", "2")}, c);
         },
         A::Replace,
         Outcome::Refused,
         {},
         {}},
        {"an added file where another added item needs a folder",
         [](IArchive* a, IUpdateCallback* c) {
             return Add(a, {Addable(L"n", "1"), Addable(L"n/inner.txt", "2")}, c);
         },
         A::Replace,
         Outcome::Refused,
         {},
         {}},
        {"an unnormalised path meets an entry",
         [](IArchive* a, IUpdateCallback* c) { return Add(a, {Addable(L"./z//f.txt", "new\n")}, c); },
         A::Replace,
         Outcome::Written,
         {"z/f.txt"},
         Changed({}, {{"z/f.txt", "new\n"}})},
        {"two added folders of one path",
         [](IArchive* a, IUpdateCallback* c) {
             return Add(a, {Folder(L"v"), Folder(L"./v/"), Addable(L"v/n.txt", "n\n")}, c);
         },
         A::Replace,
         Outcome::Written,
         {},
         Changed({}, {{"v/n.txt", "n\n"}})},
        {"two entries moved to one name, the later replacing",
         intoW,
         A::Replace,
         Outcome::Written,
         {"w/f.txt"},
         Changed({"x/f.txt", "y/f.txt"}, {{"w/f.txt", "from y\n"}})},
        {"two entries moved to one name, the later skipped",
         intoW,
         A::Skip,
         Outcome::Written,
         {"w/f.txt"},
         Changed({"x/f.txt"}, {{"w/f.txt", "from x\n"}})},
        {"two entries moved to one name, the later renamed",
         intoW,
         A::AddUnderOtherName,
         Outcome::Written,
         {"w/f.txt"},
         Changed({"x/f.txt", "y/f.txt"}, {{"w/f.txt", "from x\n"}, {"w/f(1).txt", "from y\n"}})},
        {"two clashes with one entry both renamed",
         intoZ,
         A::AddUnderOtherName,
         Outcome::Written,
         {"z/f.txt", "z/f.txt"},
         Changed({"x/f.txt", "y/f.txt"}, {{"z/f(1).txt", "from x\n"}, {"z/f(2).txt", "from y\n"}})},
        {"a new name not taken from a later item",
         [](IArchive* a, IUpdateCallback* c) {
             return Add(a, {Addable(L"z/f.txt", "renamed\n"), Addable(L"z/f(1).txt", "given\n")}, c);
         },
         A::AddUnderOtherName,
         Outcome::Written,
         {"z/f.txt"},
         Changed({}, {{"z/f(2).txt", "renamed\n"}, {"z/f(1).txt", "given\n"}})},
    };
    const std::pair<const char*, const char*> makers[] = {
        {"7zz.7z", "cd dup && 7zz a -bd ../7zz.7z w x y z"},
        {"bsdtar.tar", "cd dup && bsdtar cf ../bsdtar.tar w x y z"},
        {"infozip.zip", "cd dup && zip -qr ../infozip.zip w x y z"},
        {"ours.7z", nullptr},
    };
    for (const auto& [base, maker] : makers) {
        if (maker)
            Run(maker);
        else
            WriteOurs(base);
        for (const DuplicatingPlan& plan : plans) {
            SCOPED_TRACE(std::string(base) + ": " + plan.label);
            auto archive = Opened(base);
            UpdateHeard heard;
            const auto callback = UpdateRecorder(heard, [&](int) { return plan.answer; });
            const std::string out = std::string("out-") + base;
            if (plan.outcome == Outcome::Refused) {
                EXPECT_THROW(WriteInto(out, plan.operation(archive.get(), callback.get())), zorvik::rt::invalid_argument_error);
                EXPECT_EQ(fs::file_size(Path(out)), 0u) << "nothing written";
                continue;
            }
            ASSERT_EQ(WriteInto(out, plan.operation(archive.get(), callback.get())), UpdateResult::Success);
            EXPECT_EQ(heard.conflicts, plan.questions);
            EXPECT_EQ(FilesIn(Path(out)), plan.files);
        }
    }
}

// An operation on archive given a file and a folder node that may be of another tree.
using Member =
    std::function<com_ptr<ABI::Windows::Foundation::IAsyncInfo>(IArchive* archive, com_ptr<IArchiveItem> file, com_ptr<IArchiveItem> folder,
                                                                IUpdateCallback* callback, IRandomAccessStream* destination)>;

TEST_F(Updating, ItemsOfAnotherTreeAreRefusedByEveryMember) {
    MakeBase("base.7z");
    const auto asInfo = [](const auto& operation) { return operation.template as<ABI::Windows::Foundation::IAsyncInfo>(); };
    const std::pair<const char*, Member> members[] = {
        {"extract",
         [&](IArchive* a, com_ptr<IArchiveItem> file, com_ptr<IArchiveItem>, IUpdateCallback*, IRandomAccessStream*) {
             Heard heard;
             return asInfo(ExtractAsync(a, {file}, Recorder(heard).get()));
         }},
        {"remove",
         [&](IArchive* a, auto file, auto, IUpdateCallback* c, IRandomAccessStream* d) {
             IArchiveItem* raw = file.get();
             com_ptr<IAsyncOperation<UpdateResult>> operation;
             zorvik::rt::check_hresult(a->RemoveAsync(1, &raw, c, d, operation.put()));
             return asInfo(operation);
         }},
        {"rename",
         [&](IArchive* a, auto file, auto, IUpdateCallback* c, IRandomAccessStream* d) {
             com_ptr<IAsyncOperation<UpdateResult>> operation;
             zorvik::rt::check_hresult(a->RenameAsync(file.get(), zorvik::rt::hstring(L"x").get(), c, d, operation.put()));
             return asInfo(operation);
         }},
        {"move an item",
         [&](IArchive* a, auto file, auto, IUpdateCallback* c, IRandomAccessStream* d) { return asInfo(Move(a, {file}, nullptr, c)(d)); }},
        {"move into a folder",
         [&](IArchive* a, auto, auto folder, IUpdateCallback* c, IRandomAccessStream* d) {
             return asInfo(Move(a, {Node(a, "zero.txt")}, folder.template as<IArchiveFolder>(), c)(d));
         }},
    };

    auto current = Opened("base.7z");
    auto another = Opened("base.7z");
    auto reopened = Opened("base.7z");
    const com_ptr<IArchiveItem> before[] = {Node(reopened.get(), "a/b.txt"), Node(reopened.get(), "empty")};
    ASSERT_TRUE(OpenArchive(reopened.get(), Path("base.7z")));
    RootOf(reopened.get());
    struct Stranger {
        const char* label;
        IArchive* archive;
        com_ptr<IArchiveItem> file, folder;
    };
    const Stranger strangers[] = {
        {"of another Archive", current.get(), Node(another.get(), "a/b.txt"), Node(another.get(), "empty")},
        {"of the tree before a reopen", reopened.get(), before[0], before[1]},
    };
    for (const Stranger& stranger : strangers) {
        for (const auto& [label, member] : members) {
            SCOPED_TRACE(std::string(label) + " with items " + stranger.label);
            UpdateHeard heard;
            const auto callback = UpdateRecorder(heard);
            const auto destination =
                zorvik::rt::open_file_stream(Path("out.7z").wstring(), ABI::Windows::Storage::FileAccessMode::ReadWrite,
                                             ABI::Windows::Storage::FileCreationDisposition::CreateAlways);
            const auto operation = member(stranger.archive, stranger.file, stranger.folder, callback.get(), destination.get());
            EXPECT_EQ(EndOf(operation), AsyncStatus::Error);
            EXPECT_EQ(ErrorOf(operation.get()), E_INVALIDARG);
            EXPECT_EQ(fs::file_size(Path("out.7z")), 0u) << "nothing written";
        }
    }
}

}  // namespace
}  // namespace Zorvik::Testing
