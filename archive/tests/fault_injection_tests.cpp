// Streams that fail part-way, at every read or write in turn: the N-th read of the archive (or of
// content added to it) fails, ends early or comes back short, its N-th seek fails, or a
// destination's N-th write or flush fails. Whatever the step, every operation ends (no crash, no
// hang); an extraction that succeeds reports every entry, an entry reported as extracted holds
// exactly its source bytes, and an update that succeeds wrote an archive that 7zz tests sound and
// that holds what was asked, the added content whole.
#include "archive/tests/UpdateTesting.h"

namespace Zorvik::Testing {
namespace {

enum class Fault { None, ReadFails, ReadEnds, ReadShort, SeekFails, WriteFails, FlushFails };

struct Injection {
    Fault fault = Fault::None;
    int at = 0;  // 1-based count of the calls of that kind
    std::shared_ptr<std::atomic<int>> calls = std::make_shared<std::atomic<int>>(0);

    bool Fires(Fault kind) const { return fault == kind && ++*calls == at; }
    bool Counts(std::initializer_list<Fault> kinds) const { return std::find(kinds.begin(), kinds.end(), fault) != kinds.end(); }
};

// An input as the component sees it (the archive, or content to add); reads and seeks go wrong
// as injected.
class FaultyArchive final : public ForwardingStream<FaultyArchive, IInputStream> {
public:
    FaultyArchive(com_ptr<IRandomAccessStream> inner, Injection injection)
        : ForwardingStream(std::move(inner)), input_(inner_.as<IInputStream>()), injection_(std::move(injection)) {}

    HRESULT Seek(std::uint64_t position) override {
        if (injection_.Fires(Fault::SeekFails)) return E_FAIL;
        return inner_->Seek(position);
    }
    HRESULT ReadAsync(IBuffer* buffer, std::uint32_t count, InputStreamOptions options, IAsyncOperation<IBuffer*>** operation) override {
        if (injection_.Counts({Fault::ReadFails, Fault::ReadEnds, Fault::ReadShort}) && ++*injection_.calls == injection_.at) {
            if (injection_.fault == Fault::ReadFails) return E_FAIL;
            count = injection_.fault == Fault::ReadEnds ? 0 : count / 2;  // a short read is allowed with Partial
        }
        return input_->ReadAsync(buffer, count, options, operation);
    }

private:
    com_ptr<IInputStream> input_;
    Injection injection_;
};

// A destination whose N-th write or flush, counted over every destination, fails.
class FaultyDestination final : public ForwardingStream<FaultyDestination, IOutputStream> {
public:
    FaultyDestination(com_ptr<IRandomAccessStream> inner, Injection injection)
        : ForwardingStream(std::move(inner)), output_(inner_.as<IOutputStream>()), injection_(std::move(injection)) {}

    HRESULT WriteAsync(IBuffer* buffer, IAsyncOperation<std::uint32_t>** operation) override {
        if (injection_.Fires(Fault::WriteFails)) return E_FAIL;
        return output_->WriteAsync(buffer, operation);
    }
    HRESULT FlushAsync(IAsyncOperation<bool>** operation) override {
        if (injection_.Fires(Fault::FlushFails)) return E_FAIL;
        return output_->FlushAsync(operation);
    }

private:
    com_ptr<IOutputStream> output_;
    Injection injection_;
};

struct Outcome {
    int calls = 0;           // of the kind injected, up to the end or the fault
    bool succeeded = false;  // opened, tree built, every file extracted
};

struct Made {
    const char* file;
    const char* command;
};

// Every fault at every call of its kind that a clean run makes; attempt(fault, 0) is that run.
template <typename Attempt>
void Sweep(const Attempt& attempt) {
    for (const Fault fault :
         {Fault::ReadFails, Fault::ReadEnds, Fault::ReadShort, Fault::SeekFails, Fault::WriteFails, Fault::FlushFails}) {
        const Outcome clean = attempt(fault, 0);
        ASSERT_TRUE(clean.succeeded);
        for (int at = 1; at <= clean.calls; ++at) {
            SCOPED_TRACE("fault " + std::to_string(static_cast<int>(fault)) + " at call " + std::to_string(at) + " of " +
                         std::to_string(clean.calls));
            const Outcome outcome = attempt(fault, at);
            if (fault == Fault::ReadShort) {
                EXPECT_TRUE(outcome.succeeded) << "a short read is no failure";
            } else if (fault == Fault::WriteFails || fault == Fault::FlushFails) {
                EXPECT_FALSE(outcome.succeeded) << "a lost write never passes for success";
            }
        }
    }
}

class FaultInjection : public Extraction, public ::testing::WithParamInterface<Made> {
protected:
    // Opens, builds the tree and extracts everything with the fault injected (at 0, it only
    // counts), checking what the caller heard against the sources.
    Outcome Attempt(Fault fault, int at) {
        const Injection injection{fault, at};
        const auto path = Path(GetParam().file);
        auto archive = NewArchive();
        com_ptr<IAsyncOperation<bool>> opening;
        zorvik::rt::check_hresult(
            archive->OpenAsync(zorvik::rt::make<FaultyArchive>(OpenFile(path), injection).get(), SourceFor(path).get(), opening.put()));
        if (EndOf(opening) != AsyncStatus::Completed || !zorvik::rt::get(opening)) return {*injection.calls, false};
        com_ptr<IAsyncOperation<IArchiveFolder*>> building;
        zorvik::rt::check_hresult(archive->GetRootFolderAsync(nullptr, building.put()));
        if (EndOf(building) != AsyncStatus::Completed) return {*injection.calls, false};

        Heard heard;
        auto callback =
            Recorder(heard, {.get_file_stream = [&](IArchiveItem*, std::wstring_view entry) {
                         return file_stream_answer::into(zorvik::rt::make<FaultyDestination>(heard.Destination(Utf8(entry)), injection));
                     }});
        const auto extraction = ExtractAsync(archive.get(), {Item(zorvik::rt::get(building))}, callback.get());
        // False: the engine stopped, and the entries it did not reach are not reported.
        const bool completed = EndOf(extraction) == AsyncStatus::Completed && zorvik::rt::get(extraction);
        if (completed) {
            EXPECT_EQ(heard.completed.size(), heard.itemCount) << "every entry is reported once";
        }
        std::size_t extracted = 0;
        for (const char* source : kTreeFiles) {
            if (!heard.Succeeded(fs::path(source).filename().string())) continue;
            ++extracted;
            EXPECT_EQ(heard.Content(KeyOf(source)), OnDisk(source)) << source << " reported extracted";
        }
        return {*injection.calls, completed && extracted == std::size(kTreeFiles)};
    }
};

TEST_P(FaultInjection, AFailingReadSeekOrWriteNeverCrashesHangsOrPassesForData) {
    Run(GetParam().command);
    Sweep([this](Fault fault, int at) { return Attempt(fault, at); });
}

INSTANTIATE_TEST_SUITE_P(Archivers, FaultInjection,
                         ::testing::Values(Made{"t.7z", "7zz a -bd t.7z tree"}, Made{"t.zip", "zip -qr t.zip tree"},
                                           Made{"t.tar", "tar cf t.tar tree"}, Made{"t.rar", "rar a -ma5 -idq t.rar tree"}),
                         [](const auto& info) { return std::string(fs::path(info.param.file).extension().string()).substr(1); });

class UpdateFaultInjection : public Updating, public ::testing::WithParamInterface<const char*> {
protected:
    // Adds a file to the base archive, both read through the fault, into a fresh file through it
    // (at 0, it only counts); checks what a success wrote.
    Outcome Attempt(Fault fault, int at) {
        const Injection injection{fault, at};
        const auto base = Path(GetParam());
        auto archive = NewArchive();
        com_ptr<IAsyncOperation<bool>> opening;
        zorvik::rt::check_hresult(
            archive->OpenAsync(zorvik::rt::make<FaultyArchive>(OpenFile(base), injection).get(), SourceFor(base).get(), opening.put()));
        if (EndOf(opening) != AsyncStatus::Completed || !zorvik::rt::get(opening)) return {*injection.calls, false};

        const std::string out = std::string("out") + base.extension().string();
        const auto destination = zorvik::rt::make<FaultyDestination>(
            zorvik::rt::open_file_stream(Path(out).wstring(), ABI::Windows::Storage::FileAccessMode::ReadWrite,
                                         ABI::Windows::Storage::FileCreationDisposition::CreateAlways),
            injection);
        UpdateHeard heard;
        const auto callback = UpdateRecorder(heard);
        const std::string content(200000, 'a');
        const auto added = make_archive_addable({.path = L"added.txt", .size = content.size()},
                                                [&] { return zorvik::rt::make<FaultyArchive>(MemoryStreamOf(content), injection); });
        const auto operation = Add(archive.get(), {added}, callback.get())(destination.get());
        if (EndOf(operation) != AsyncStatus::Completed || zorvik::rt::get(operation) != UpdateResult::Success)
            return {*injection.calls, false};
        EXPECT_TRUE(SevenZipTests(Path(out))) << "an update that succeeded wrote a sound archive";
        EXPECT_EQ(Capture("7zz e -so " + Path(out).string() + " added.txt").first, content) << "the added content is whole";
        const auto paths = PathsOf(SevenZipList(Path(out)));
        for (const char* kept : {"a/b.txt", "noise.bin", "imp/deep/only.txt", "added.txt"})
            EXPECT_NE(std::find(paths.begin(), paths.end(), kept), paths.end()) << kept << " is in what an update that succeeded wrote";
        return {*injection.calls, true};
    }
};

TEST_P(UpdateFaultInjection, AFailingReadSeekOrWriteNeverPassesForAWrittenArchive) {
    MakeBase(GetParam());
    Sweep([this](Fault fault, int at) { return Attempt(fault, at); });
}

INSTANTIATE_TEST_SUITE_P(Archivers, UpdateFaultInjection, ::testing::Values("base.7z", "base.zip"),
                         [](const auto& info) { return fs::path(info.param).extension().string().substr(1); });

}  // namespace
}  // namespace Zorvik::Testing
