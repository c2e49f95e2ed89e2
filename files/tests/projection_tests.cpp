// The projection and the files layer as an application meets them, on archives written by the
// real tools: listing, reading and extracting each format, passwords, errors that name what
// failed, safe replacement, and names that would lead out of the destination.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <coroutine>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <set>
#include <sstream>

#include "zorvik/Zorvik.h"
#include "zorvik/files/Files.h"

namespace fs = std::filesystem;

namespace {

void Shell(const std::string& command) { ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command; }

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void Write(const fs::path& path, const std::string& data) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

std::string Text(const std::vector<std::byte>& bytes) { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }

class Scratch : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zorvik-projection-XXXXXX";
        root_ = ::mkdtemp(pattern);
        tree_ = root_ / "tree";
        std::string binary(70'000, '\0');
        for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>((i * 7919) % 251);
        files_ = {{"docs/readme.txt", "read me\n"}, {"docs/\xC3\xA4 \xC3\xB6.txt", "umlauts\n"}, {"bin/data.bin", binary}};
        for (const auto& [name, data] : files_) Write(tree_ / name, data);
    }
    void TearDown() override { fs::remove_all(root_); }
    std::string Q(const fs::path& path) const { return "'" + path.string() + "'"; }

    fs::path root_, tree_;
    std::map<std::string, std::string> files_;
};

using Projection = Scratch;

// ---- Reading ------------------------------------------------------------------------------

TEST_F(Projection, EveryFormatListsReadsAndExtractsWhatItsToolWrote) {
    const struct {
        const char* name;
        const char* command;  // run in the tree, which the archives are beside
        const char* format;
    } cases[] = {
        {"a.7z", "7zz a -mx=5 ../a.7z docs bin", "7z"},
        {"a.zip", "zip -qr ../a.zip docs bin", "zip"},
        {"a.tar", "tar cf ../a.tar docs bin", "tar"},
        {"a.tar.gz", "bsdtar czf ../a.tar.gz docs bin", "tar"},
        {"v.7z.001", "7zz a -mx=0 -v30k ../v.7z docs bin", "7z"},  // three volumes, found beside the first
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path archive_path = root_ / c.name;
        Shell("cd " + Q(tree_) + " && " + c.command);

        const zorvik::Archive archive = zorvik::files::open(archive_path.string());
        EXPECT_EQ(archive.format(), c.format);
        std::set<std::string> listed;
        for (const zorvik::ArchiveItem& item : archive.root().descendants()) {
            listed.insert(item.path() + (item.is_folder() ? "/" : ""));
            if (item.is_folder()) continue;
            const std::string expected = files_.at(item.path());
            EXPECT_EQ(item.size(), expected.size()) << item.path();
            EXPECT_EQ(item.path().substr(item.path().rfind('/') + 1), item.name());
            const auto modified = item.modified();
            ASSERT_TRUE(modified.has_value());
            struct stat info {};
            ASSERT_EQ(::stat((tree_ / item.path()).c_str(), &info), 0);
            const auto on_disk = std::chrono::system_clock::from_time_t(info.st_mtime);
            EXPECT_LT(std::chrono::abs(*modified - on_disk), std::chrono::seconds(2)) << item.path();
        }
        EXPECT_EQ(listed, (std::set<std::string>{"bin/", "bin/data.bin", "docs/", "docs/readme.txt", "docs/\xC3\xA4 \xC3\xB6.txt"}));

        for (const auto& [name, data] : files_) EXPECT_EQ(Text(archive.read(name)), data) << name;
        const auto folder = archive.find("docs");
        ASSERT_TRUE(folder && folder->as_folder());
        EXPECT_EQ(folder->as_folder()->find("readme.txt")->path(), "docs/readme.txt");
        EXPECT_FALSE(archive.find("docs/README.txt")) << "find is exact";

        const fs::path out = root_ / (std::string(c.name) + ".out");
        const zorvik::files::ExtractReport report = zorvik::files::extract(archive, out.string());
        EXPECT_EQ(report.files, files_.size());
        EXPECT_TRUE(report.problems.empty());
        for (const auto& [name, data] : files_) EXPECT_EQ(Slurp(out / name), data) << name;
        for (const auto& entry : fs::recursive_directory_iterator(out))
            EXPECT_EQ(entry.path().filename().string().find("zorvik-part"), std::string::npos) << entry.path();
    }
}

// ---- Passwords and errors -------------------------------------------------------------------

TEST_F(Projection, WrongAndMissingPasswordsAreToldApartFromACancel) {
    Shell("cd " + Q(tree_) + " && 7zz a -psecret -mhe=on " + Q(root_ / "hidden.7z") + " docs");
    Shell("cd " + Q(tree_) + " && 7zz a -psecret " + Q(root_ / "data.7z") + " docs");
    Shell("cd " + Q(tree_) + " && zip -q -P secret -r " + Q(root_ / "crypto.zip") + " docs");
    Shell("cd " + Q(tree_) + " && 7zz a -tzip -psecret -mem=AES256 " + Q(root_ / "aes.zip") + " docs");
    // RAR with hidden names asks for the password twice at open.
    Shell("cd " + Q(tree_) + " && rar a -idq -hpsecret " + Q(root_ / "hidden.rar") + " docs");
    const struct {
        const char* archive;
        const char* password;  // null: none given
        std::optional<zorvik::ErrorCode> at_open, at_read;
    } cases[] = {
        {"hidden.7z", nullptr, zorvik::ErrorCode::PasswordRequired, {}},
        {"hidden.7z", "wrong", zorvik::ErrorCode::WrongPassword, {}},
        {"hidden.7z", "secret", {}, {}},
        {"hidden.rar", nullptr, zorvik::ErrorCode::PasswordRequired, {}},
        {"hidden.rar", "wrong", zorvik::ErrorCode::WrongPassword, {}},
        {"hidden.rar", "secret", {}, {}},
        {"data.7z", nullptr, {}, zorvik::ErrorCode::PasswordRequired},
        {"data.7z", "wrong", {}, zorvik::ErrorCode::WrongPassword},
        {"data.7z", "secret", {}, {}},
        {"crypto.zip", nullptr, {}, zorvik::ErrorCode::PasswordRequired},
        {"crypto.zip", "wrong", {}, zorvik::ErrorCode::WrongPassword},
        {"aes.zip", "wrong", {}, zorvik::ErrorCode::WrongPassword},
        {"aes.zip", "secret", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.archive) + " with " + (c.password ? c.password : "no password"));
        const zorvik::Password password = c.password ? zorvik::Password(c.password) : zorvik::Password();
        const std::string path = (root_ / c.archive).string();
        try {
            const zorvik::Archive archive = zorvik::files::open(path, password);
            EXPECT_FALSE(c.at_open) << "opened";
            EXPECT_EQ(archive.read_text("docs/readme.txt", password), "read me\n");
            EXPECT_FALSE(c.at_read) << "read";
        } catch (const zorvik::Error& error) {
            const auto expected = c.at_open ? c.at_open : c.at_read;
            ASSERT_TRUE(expected) << error.what();
            EXPECT_EQ(error.code(), *expected) << error.what();
            EXPECT_NE(error.hresult(), E_ABORT);
            EXPECT_NE(std::string(error.what()).find(c.archive), std::string::npos) << error.what();
            if (c.at_read) {
                EXPECT_NE(std::string(error.what()).find("docs/readme.txt"), std::string::npos) << error.what();
            }
        }
    }

    // A password asked of a callable, attempt by attempt: the second answer opens it.
    std::vector<int> attempts;
    const zorvik::Archive archive =
        zorvik::files::open((root_ / "hidden.7z").string(), zorvik::Password([&](int attempt) -> std::optional<std::string> {
                                attempts.push_back(attempt);
                                return attempt == 1 ? "wrong" : "secret";
                            }));
    EXPECT_EQ(attempts, (std::vector<int>{1, 2}));
    // The password that opened it serves its extractions: the callable is not asked again.
    EXPECT_EQ(archive.read_text("docs/readme.txt"), "read me\n");
    EXPECT_EQ(attempts.size(), 2u);

    // The engine asks once for each block it decodes: the password given first serves them all,
    // and a callable is asked once; a wrong one still ends as WrongPassword.
    Shell("cd " + Q(tree_) + " && 7zz a -psecret -ms=off " + Q(root_ / "blocks.7z") + " docs bin");
    const std::string blocks = (root_ / "blocks.7z").string();
    int asked = 0, run = 0;
    for (const zorvik::Password& given : {zorvik::Password("secret"), zorvik::Password([&](int) -> std::optional<std::string> {
                                              ++asked;
                                              return "secret";
                                          })}) {
        const fs::path out = root_ / ("blocks-" + std::to_string(++run));
        const auto report = zorvik::files::extract(zorvik::files::open(blocks), out.string(), {.password = given});
        EXPECT_EQ(report.files, files_.size());
        for (const auto& [name, data] : files_) EXPECT_EQ(Slurp(out / name), data) << name;
    }
    EXPECT_EQ(asked, 1);
    try {
        zorvik::files::extract(zorvik::files::open(blocks), (root_ / "blocks-wrong").string(), {.password = "wrong"});
        ADD_FAILURE() << "extracted with a wrong password";
    } catch (const zorvik::Error& error) {
        EXPECT_EQ(error.code(), zorvik::ErrorCode::WrongPassword) << error.what();
    }

    // A cancel by the caller is a cancel.
    try {
        const zorvik::Archive plain = zorvik::files::open((root_ / "data.7z").string());
        plain.extract(
            {.file = [](const zorvik::ArchiveFile&, const std::string&) { return zorvik::Sink::cancel(); }, .password = "secret"});
        ADD_FAILURE() << "not cancelled";
    } catch (const zorvik::Error& error) {
        EXPECT_EQ(error.code(), zorvik::ErrorCode::Cancelled) << error.what();
    }
}

TEST_F(Projection, FailuresSayWhatFailedAndWhere) {
    Write(root_ / "notes.txt", "not an archive at all\n");
    Shell("cd " + Q(tree_) + " && 7zz a " + Q(root_ / "a.7z") + " docs");
    const zorvik::Archive archive = zorvik::files::open((root_ / "a.7z").string());
    const struct {
        const char* what;
        std::function<void()> call;
        zorvik::ErrorCode code;
        const char* named;  // in the message
    } cases[] = {
        {"not an archive", [&] { zorvik::files::open((root_ / "notes.txt").string()); }, zorvik::ErrorCode::NotAnArchive, "notes.txt"},
        {"missing file", [&] { zorvik::files::open((root_ / "gone.7z").string()); }, zorvik::ErrorCode::NotFound, "gone.7z"},
        {"folder opened", [&] { zorvik::files::open(tree_.string()); }, zorvik::ErrorCode::IsAFolder, "tree"},
        {"folder read", [&] { archive.read("docs"); }, zorvik::ErrorCode::IsAFolder, "'docs'"},
        {"missing entry", [&] { archive.read("docs/none.txt"); }, zorvik::ErrorCode::NotFound, "docs/none.txt"},
        {"conflict", [&] { archive.add({zorvik::Addable::from_text("docs/readme.txt", "new")}, zorvik::Stream::memory()); },
         zorvik::ErrorCode::AlreadyExists, "'docs/readme.txt'"},
        {"format that cannot write", [&] { zorvik::Archive::create(zorvik::Stream::memory(), {.format = "rar"}); },
         zorvik::ErrorCode::CannotWrite, "archive.rar"},
        {"option the format lacks", [&] { zorvik::Archive::create(zorvik::Stream::memory(), {.format = "tar", .password = "x"}); },
         zorvik::ErrorCode::InvalidArgument, "archive.tar"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            c.call();
            ADD_FAILURE() << "no error";
        } catch (const zorvik::Error& error) {
            EXPECT_EQ(error.code(), c.code) << error.what();
            EXPECT_NE(std::string(error.what()).find(c.named), std::string::npos) << error.what();
            EXPECT_EQ(std::string(error.what()).find("platform error"), std::string::npos) << error.what();
        }
    }
}

// ---- Writing --------------------------------------------------------------------------------

TEST_F(Projection, CreatedArchivesAreWhatTheirToolsRead) {
    const struct {
        const char* name;
        zorvik::CompressionOptions options;
        const char* check;  // 7zz's technical listing holds it
    } cases[] = {
        {"aes.zip", {.format = "zip", .password = "secret", .encryption = zorvik::Encryption::AES256}, "AES-256"},
        {"solid.7z", {.format = "7z", .method = zorvik::Method::LZMA2, .level = zorvik::Level::Ultra, .solid = true}, "Solid = +"},
        {"plain.tar", {}, "Type = tar"},
        {"parts.7z", {.format = "7z", .level = zorvik::Level::Store, .volume_size = 30'000}, "Volumes = 3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::path path = root_ / c.name;
        zorvik::files::create(path.string(), zorvik::files::addables_from_disk(tree_.string(), ""), c.options);
        if (c.options.volume_size != 0) path += ".001";
        Shell("7zz t -psecret " + Q(path));
        Shell("7zz l -slt -psecret " + Q(path) + " | grep -q '" + c.check + "'");
        const fs::path out = root_ / (std::string(c.name) + ".7zz");
        Shell("7zz x -psecret -o" + Q(out) + " " + Q(path));
        for (const auto& [name, data] : files_) EXPECT_EQ(Slurp(out / name), data) << name;
    }
}

TEST_F(Projection, AReplacementKeepsTheOriginalUntilItIsCommitted) {
    const fs::path path = root_ / "a.7z";
    Shell("cd " + Q(tree_) + " && 7zz a " + Q(path) + " docs");
    const std::string before = Slurp(path);
    const auto leftovers = [&] {
        std::size_t count = 0;
        for (const auto& entry : fs::directory_iterator(root_))
            count += entry.path().filename().string().find(".zorvik-") != std::string::npos;
        return count;
    };
    {
        // The engine asks for content that cannot be read: the update fails, nothing is committed.
        zorvik::files::Replacement target(path.string());
        const zorvik::Archive archive = zorvik::files::open(path.string());
        const auto unreadable = zorvik::Addable::from_stream({.path = "new.txt", .size = 5}, []() -> zorvik::Stream {
            throw zorvik::rt::hresult_error(E_ACCESSDENIED, "cannot read new.txt");
        });
        EXPECT_THROW(archive.add({unreadable}, target.stream()), zorvik::Error);
        EXPECT_THROW(zorvik::files::Replacement(path.string()), zorvik::Error) << "a second writer is kept out";
    }
    EXPECT_EQ(Slurp(path), before);
    EXPECT_EQ(leftovers(), 0u);
    {
        zorvik::files::Replacement target(path.string());
        const zorvik::Archive archive = zorvik::files::open(path.string());
        EXPECT_TRUE(archive.add({zorvik::Addable::from_text("new.txt", "fresh\n")}, target.stream()));
        target.commit();
    }
    EXPECT_EQ(leftovers(), 0u);
    Shell("7zz t " + Q(path));
    EXPECT_EQ(zorvik::files::open(path.string()).read_text("new.txt"), "fresh\n");
    EXPECT_EQ(zorvik::files::open(path.string()).read_text("docs/readme.txt"), "read me\n");
}

TEST_F(Projection, AnEditAddsAndRenamesInOnePass) {
    const fs::path path = root_ / "a.7z";
    Shell("cd " + Q(tree_) + " && 7zz a " + Q(path) + " docs");
    const zorvik::Archive archive = zorvik::files::open(path.string());
    if (!archive.try_as<Zorvik::IArchiveEdit>()) GTEST_SKIP() << "the component does not offer IArchiveEdit yet";
    zorvik::files::Replacement target(path.string());
    archive.edit()
        .add(zorvik::Addable::from_text("docs/new.txt", "fresh\n"))
        .rename(*archive.find("docs/readme.txt"), "README")
        .write(target.stream());
    target.commit();
    const zorvik::Archive edited = zorvik::files::open(path.string());
    EXPECT_EQ(edited.read_text("docs/new.txt"), "fresh\n");
    EXPECT_EQ(edited.read_text("docs/README"), "read me\n");
    EXPECT_FALSE(edited.find("docs/readme.txt"));
}

// ---- Extracting safely ----------------------------------------------------------------------

TEST_F(Projection, NothingIsWrittenOutsideTheDestination) {
    // A zip naming "../evil.txt", and a tar whose link "up" leads out with a file "up/x.txt" after it.
    Shell("python3 -c \"import zipfile; z = zipfile.ZipFile('" + (root_ / "evil.zip").string() +
          "', 'w'); z.writestr('../evil.txt', 'x'); z.writestr('ok.txt', 'ok'); z.close()\"");
    fs::create_directories(root_ / "t1");
    fs::create_directories(root_ / "t2/up");
    fs::create_symlink("../../outside", root_ / "t1/up");
    Write(root_ / "t2/up/x.txt", "x");
    Shell("tar cf " + Q(root_ / "evil.tar") + " -C " + Q(root_ / "t1") + " up && tar rf " + Q(root_ / "evil.tar") + " -C " +
          Q(root_ / "t2") + " up/x.txt");

    for (const char* name : {"evil.zip", "evil.tar"}) {
        SCOPED_TRACE(name);
        const fs::path out = root_ / "out" / name;
        const zorvik::Archive archive = zorvik::files::open((root_ / name).string());
        const auto report = zorvik::files::extract(archive, out.string(), {}, {}, true);
        EXPECT_FALSE(report.problems.empty());
        EXPECT_FALSE(fs::exists(root_ / "out" / "evil.txt"));
        EXPECT_FALSE(fs::exists(root_ / "evil.txt"));
        EXPECT_FALSE(fs::exists(root_ / "outside"));
        EXPECT_FALSE(fs::is_symlink(out / "up")) << "a link leading out is not made";
        EXPECT_THROW(zorvik::files::extract(archive, (out / "again").string()), zorvik::Error)
            << "without keep_going the first refusal is raised";
    }

    // tar run in a folder names it "./": that is the destination itself, not a name refused.
    Shell("tar czf " + Q(root_ / "dot.tar.gz") + " -C " + Q(tree_) + " .");
    const auto report = zorvik::files::extract(zorvik::files::open((root_ / "dot.tar.gz").string()), (root_ / "dot").string());
    EXPECT_TRUE(report.problems.empty());
    for (const auto& [name, data] : files_) EXPECT_EQ(Slurp(root_ / "dot" / name), data) << name;
}

// ---- Operations -------------------------------------------------------------------------------

struct Task {
    struct promise_type {
        Task get_return_object() { return {}; }
        std::suspend_never initial_suspend() noexcept { return {}; }
        std::suspend_never final_suspend() noexcept { return {}; }
        void return_void() {}
        void unhandled_exception() { std::terminate(); }
    };
};

TEST_F(Projection, OperationsAreAwaitedHandledAndCancelled) {
    Shell("cd " + Q(tree_) + " && 7zz a " + Q(root_ / "a.7z") + " docs bin");
    const zorvik::Stream stream = zorvik::Stream::open_file((root_ / "a.7z").string());

    std::promise<std::string> awaited;
    [](zorvik::Stream stream, std::promise<std::string>& out) -> Task {
        // The source a named local: GCC 12 frees a braced temporary of a co_await twice.
        const zorvik::Source source{.name = "a.7z"};
        const zorvik::Archive archive = co_await zorvik::Archive::open_async(stream, source);
        const zorvik::ArchiveFolder root = co_await archive.root_async();
        out.set_value(root.find("docs/readme.txt")->name());
    }(stream, awaited);
    EXPECT_EQ(awaited.get_future().get(), "readme.txt");

    const zorvik::Archive archive = zorvik::files::open((root_ / "a.7z").string());
    std::promise<zorvik::ErrorCode> handled;
    // The progress hook cancels from inside; the handler sees the cancel as an Error.
    archive
        .extract_async({.file = [](const zorvik::ArchiveFile&, const std::string&) { return zorvik::Sink::into(zorvik::Stream::memory()); },
                        .progress = [](std::uint64_t, std::uint64_t) { return zorvik::ProgressAnswer::Cancel; }})
        .on_completed([&](const zorvik::Operation<void>& operation) {
            try {
                operation.get();
                handled.set_value(zorvik::ErrorCode::Other);
            } catch (const zorvik::Error& error) {
                handled.set_value(error.code());
            }
        });
    EXPECT_EQ(handled.get_future().get(), zorvik::ErrorCode::Cancelled);
}

}  // namespace

namespace {

TEST_F(Projection, TheCatalogueVersionsAndSortingAreValues) {
    const auto formats = zorvik::formats();
    const auto seven = std::find_if(formats.begin(), formats.end(), [](const zorvik::Format& f) { return f.name == "7z"; });
    ASSERT_NE(seven, formats.end());
    EXPECT_TRUE(seven->can_update);
    EXPECT_EQ(seven->extension, "7z");
    const auto compressors = zorvik::compressors();
    const auto zip = std::find_if(compressors.begin(), compressors.end(), [](const zorvik::Compressor& c) { return c.format == "Zip"; });
    ASSERT_NE(zip, compressors.end());
    EXPECT_NE(std::find(zip->ciphers.begin(), zip->ciphers.end(), zorvik::Encryption::AES256), zip->ciphers.end());
    EXPECT_FALSE(zorvik::versions().component.empty());

    Shell("cd " + Q(tree_) + " && 7zz a " + Q(root_ / "a.7z") + " docs bin");
    const zorvik::Archive archive = zorvik::files::open((root_ / "a.7z").string());
    const zorvik::ArchiveFolder docs = *archive.at("docs").as_folder();
    zorvik::sort(docs, [](const zorvik::ArchiveItem& a, const zorvik::ArchiveItem& b) { return a.name() > b.name(); });
    std::vector<std::string> names;
    for (const zorvik::ArchiveItem& item : docs.children()) names.push_back(item.name());
    EXPECT_EQ(names, (std::vector<std::string>{"\xC3\xA4 \xC3\xB6.txt", "readme.txt"}));
}

}  // namespace
