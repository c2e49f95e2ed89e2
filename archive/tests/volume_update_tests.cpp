// Archives written in volumes through IVolumeUpdate: joined end to end the volumes are the
// archive that 7zz reads, whatever the format and the volume size; and an update whose next
// volume cannot be had or fails ends without success, asking for no volume after it.
#include "archive/VolumeOutStream.h"
#include "archive/tests/UpdateTesting.h"
#include "zorvik/VolumeUpdate.h"

namespace Zorvik::Testing {
namespace {

using ABI::Windows::Foundation::IAsyncInfo;
using ABI::Windows::Storage::FileAccessMode;
using ABI::Windows::Storage::FileCreationDisposition;

struct VolumesHeard {
    std::vector<std::uint32_t> asked;
    std::optional<std::uint32_t> count;
};

class VolumeWriting : public Updating {
protected:
    std::string VolumeName(const std::string& type, std::uint32_t number) const {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%03u", number);
        return "set." + type + suffix;
    }
    com_ptr<IRandomAccessStream> NewFile(const std::string& name) const {
        return zorvik::rt::open_file_stream(Path(name).wstring(), FileAccessMode::ReadWrite, FileCreationDisposition::CreateAlways);
    }

    // A new archive of the type holding items, written in volumes of size: the first into
    // set.TYPE.001, each further one from volume (files set.TYPE.002, ... when none is given).
    com_ptr<IAsyncOperation<UpdateResult>> StartWriting(const std::string& type, std::uint64_t size,
                                                        const std::vector<com_ptr<archive_addable>>& items, VolumesHeard& heard,
                                                        std::function<volume_answer(std::uint32_t)> volume = {}) {
        auto archive = NewArchive();
        com_ptr<IAsyncOperation<bool>> creation;
        zorvik::rt::check_hresult(
            archive->CreateAsync(zorvik::rt::make_in_memory_stream().get(), SourceFor(Path("set." + type)).get(), creation.put()));
        EXPECT_TRUE(zorvik::rt::get(creation)) << type;
        update_callback_hooks hooks;
        hooks.get_volume = [this, type, volume, &heard](std::uint32_t number) {
            heard.asked.push_back(number);
            return volume ? volume(number) : volume_answer::given(NewFile(VolumeName(type, number)));
        };
        hooks.set_volume_count = [&heard](std::uint32_t count) { heard.count = count; };
        const auto callback = make_update_callback(std::move(hooks));
        std::vector<IArchiveAddable*> raw;
        for (const auto& item : items) raw.push_back(item.get());
        com_ptr<IAsyncOperation<UpdateResult>> operation;
        zorvik::rt::check_hresult(archive.as<IVolumeUpdate>()->UpdateInVolumesAsync(0, nullptr, static_cast<std::uint32_t>(raw.size()),
                                                                                    raw.data(), callback.get(), size,
                                                                                    NewFile(VolumeName(type, 1)).get(), operation.put()));
        return operation;
    }
};

struct Written {
    const char* type;
    std::uint64_t volumeSize;
    std::vector<std::pair<std::wstring, std::string>> files;  // stored name, and the source in the scratch folder
};

TEST_F(VolumeWriting, EveryFormatAndVolumeSizeJoinsIntoTheArchive7zzReads) {
    Write("tiny.txt", "a few bytes, in volumes of fewer\n");
    Write("text.txt", std::string(300000, 't') + "end\n");
    std::string reversed = OnDisk("tree/noise.bin");
    std::reverse(reversed.begin(), reversed.end());
    Write("reversed.bin", reversed);
    const std::vector<Written> cases = {
        {"7z", 1 << 20, {{L"noise.bin", "tree/noise.bin"}, {L"reversed.bin", "reversed.bin"}, {L"text.txt", "text.txt"}}},
        // The start header, written again at the end, spans the first volumes.
        {"7z", 7, {{L"tiny.txt", "tiny.txt"}}},
        {"zip", 100000, {{L"noise.bin", "tree/noise.bin"}, {L"docs/text.txt", "text.txt"}}},
        {"tar", 65536, {{L"noise.bin", "tree/noise.bin"}, {L"text.txt", "text.txt"}}},
        {"wim", 262144, {{L"noise.bin", "tree/noise.bin"}, {L"copy.bin", "tree/noise.bin"}, {L"text.txt", "text.txt"}}},
        {"gz", 300000, {{L"noise.bin", "tree/noise.bin"}}},
    };
    for (const Written& written : cases) {
        const std::string type = written.type;
        SCOPED_TRACE(type + " in volumes of " + std::to_string(written.volumeSize));
        std::vector<com_ptr<archive_addable>> items;
        for (const auto& [stored, source] : written.files) items.push_back(Addable(stored, OnDisk(source)));
        VolumesHeard heard;
        ASSERT_EQ(zorvik::rt::get(StartWriting(type, written.volumeSize, items, heard)), UpdateResult::Success);

        ASSERT_TRUE(heard.count.has_value()) << "the count is told";
        const std::uint32_t count = *heard.count;
        for (std::size_t i = 0; i < heard.asked.size(); ++i) EXPECT_EQ(heard.asked[i], i + 2) << "asked once each, in order";
        ASSERT_GE(heard.asked.size() + 1, count);
        std::string joined;
        for (std::uint32_t number = 1; number <= heard.asked.size() + 1; ++number) {
            const std::string volume = OnDisk(VolumeName(type, number));
            if (number == count) {
                EXPECT_TRUE(!volume.empty() && volume.size() <= written.volumeSize) << "the last volume";
            } else {
                // Full before the last; after it, cut off.
                EXPECT_EQ(volume.size(), number < count ? written.volumeSize : 0) << "volume " << number;
            }
            joined += volume;
        }
        Write("joined." + type, joined);
        EXPECT_TRUE(SevenZipTests(Path("joined." + type)));
        EXPECT_TRUE(SevenZipTests(Path(VolumeName(type, 1)))) << "7zz reads the volumes as a set";
        for (const auto& [stored, source] : written.files) {
            const std::string name = type == "gz" ? "" : " '" + Utf8(stored) + "'";
            EXPECT_EQ(Capture("7zz e -so " + Path("joined." + type).string() + name).first, OnDisk(source)) << Utf8(stored);
        }
    }
}

// What the handlers do that the formats above do not show here: a cut back across volumes (a
// wim stream found stored already once written from unseekable content, a tar header that grew),
// a seek past the end, a size set ahead.
TEST(VolumeOutStream, CutsAndGapsLeaveEachVolumeItsPartOfTheArchive) {
    using Impl::VolumeOutStream;
    struct Step {
        enum { Write, Seek, SetSize } kind;
        std::uint64_t at;  // where to seek, the size to set, or how many bytes to write
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
        std::vector<std::string> volumes;  // what each volume asked for holds at the end
    };
    const std::string zero(10, '\0');
    const Case cases[] = {
        {"written on", {{Step::Write, 25}}, {"abcdefghij", "klmnopqrst", "uvwxy"}},
        {"cut back and written on",
         {{Step::Write, 25}, {Step::SetSize, 12}, {Step::Seek, 12}, {Step::Write, 3}},
         {"abcdefghij", "klzab", ""}},
        {"patched in the first volume", {{Step::Write, 25}, {Step::Seek, 3}, {Step::Write, 3}}, {"abczabghij", "klmnopqrst", "uvwxy"}},
        {"written past a gap",
         {{Step::Write, 5}, {Step::Seek, 31}, {Step::Write, 2}},
         {"abcde" + zero.substr(5), zero, zero, std::string(1, '\0') + "fg"}},
        {"sized ahead", {{Step::SetSize, 21}}, {zero, zero, std::string(1, '\0')}},
    };
    for (const Case& one : cases) {
        SCOPED_TRACE(one.what);
        std::vector<com_ptr<IRandomAccessStream>> volumes{zorvik::rt::make_in_memory_stream()};
        const auto output = zorvik::rt::make<VolumeOutStream>(10, volumes.front(), [&](std::uint32_t number) {
            EXPECT_EQ(number, volumes.size() + 1);
            volumes.push_back(zorvik::rt::make_in_memory_stream());
            return volumes.back();
        });
        std::string written;  // what the writes carry: the alphabet on from where the last one ended
        for (const Step& step : one.steps) {
            if (step.kind != Step::Write) {
                const HRESULT hr =
                    step.kind == Step::Seek ? output->Seek(static_cast<std::int64_t>(step.at), 0, nullptr) : output->SetSize(step.at);
                ASSERT_EQ(hr, S_OK);
                continue;
            }
            std::string bytes;
            for (std::uint64_t i = 0; i < step.at; ++i) bytes.push_back(static_cast<char>('a' + (written.size() + i) % 26));
            written += bytes;
            for (std::size_t done = 0; done < bytes.size();) {
                std::uint32_t processed = 0;
                ASSERT_EQ(output->Write(bytes.data() + done, static_cast<std::uint32_t>(bytes.size() - done), &processed), S_OK);
                done += processed;
            }
        }
        ASSERT_EQ(output->Finish(), S_OK);
        std::vector<std::string> contents;
        for (const auto& volume : volumes) contents.push_back(Contents(volume.get()));
        EXPECT_EQ(contents, one.volumes);
        std::size_t filled = one.volumes.size();
        while (filled > 1 && one.volumes[filled - 1].empty()) --filled;
        EXPECT_EQ(output->VolumeCount(), filled);
    }
}

enum class ThirdVolume { WriteFails, Canceled, NoMore, HookFails, NoStream, OperationCanceled };

// A volume whose writes fail.
class FailingVolume final : public ForwardingStream<FailingVolume, IOutputStream> {
public:
    using ForwardingStream::ForwardingStream;
    HRESULT WriteAsync(IBuffer*, IAsyncOperation<std::uint32_t>** operation) override {
        *operation = nullptr;
        return E_FAIL;
    }
    HRESULT FlushAsync(IAsyncOperation<bool>** operation) override { return inner_.as<IOutputStream>()->FlushAsync(operation); }
};

TEST_F(VolumeWriting, AThirdVolumeThatCannotBeHadOrWrittenEndsTheUpdateThere) {
    struct Case {
        ThirdVolume third;
        AsyncStatus status;
        HRESULT error;  // of an operation that ended in Error
    };
    const Case cases[] = {
        {ThirdVolume::WriteFails, AsyncStatus::Completed, S_OK},   {ThirdVolume::Canceled, AsyncStatus::Canceled, S_OK},
        {ThirdVolume::NoMore, AsyncStatus::Completed, S_OK},       {ThirdVolume::HookFails, AsyncStatus::Error, E_ACCESSDENIED},
        {ThirdVolume::NoStream, AsyncStatus::Error, E_INVALIDARG}, {ThirdVolume::OperationCanceled, AsyncStatus::Canceled, S_OK},
    };
    const auto noise = Addable(L"noise.bin", OnDisk("tree/noise.bin"));
    for (const Case& one : cases) {
        SCOPED_TRACE("third volume case " + std::to_string(static_cast<int>(one.third)));
        VolumesHeard heard;
        com_ptr<IAsyncOperation<UpdateResult>> operation;
        std::mutex started;  // the hook reaches the operation only once it is stored
        std::unique_lock hold(started);
        operation = StartWriting("7z", 100000, {noise}, heard, [&](std::uint32_t number) {
            if (number != 3) return volume_answer::given(NewFile(VolumeName("7z", number)));
            switch (one.third) {
            case ThirdVolume::WriteFails: return volume_answer::given(zorvik::rt::make<FailingVolume>(NewFile("failing")));
            case ThirdVolume::Canceled: return volume_answer::canceled();
            case ThirdVolume::NoMore: return volume_answer::unavailable();
            case ThirdVolume::HookFails: throw zorvik::rt::hresult_error(E_ACCESSDENIED);
            case ThirdVolume::NoStream: return volume_answer::given(nullptr);
            case ThirdVolume::OperationCanceled: {
                std::lock_guard stored(started);
                operation.as<IAsyncInfo>()->Cancel();
                return volume_answer::given(NewFile(VolumeName("7z", number)));
            }
            }
            return volume_answer::unavailable();
        });
        hold.unlock();

        ASSERT_EQ(EndOf(operation), one.status);
        if (one.status == AsyncStatus::Completed) {
            EXPECT_EQ(zorvik::rt::get(operation), UpdateResult::Failure);
        } else if (one.status == AsyncStatus::Error) {
            EXPECT_EQ(ErrorOf(operation.as<IAsyncInfo>().get()), one.error);
        }
        EXPECT_EQ(heard.asked, (std::vector<std::uint32_t>{2, 3})) << "no volume is asked for after the third";
        EXPECT_FALSE(heard.count.has_value()) << "no count for an archive that was not written";
    }

    // A volume of no size is refused before anything is written.
    auto archive = NewArchive();
    com_ptr<IAsyncOperation<UpdateResult>> refused;
    IArchiveAddable* item = noise.get();
    EXPECT_EQ(archive.as<IVolumeUpdate>()->UpdateInVolumesAsync(0, nullptr, 1, &item, make_update_callback().get(), 0,
                                                                NewFile("none").get(), refused.put()),
              E_INVALIDARG);
}

}  // namespace
}  // namespace Zorvik::Testing
