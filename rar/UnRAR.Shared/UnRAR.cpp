#include "rar.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <thread>

#include "rar/UnRAR.Shared/UnRAR.h"

namespace UnRAR {

namespace {

constexpr HRESULT_t kOk = 0;
constexpr HRESULT_t kFalse = 1;
constexpr HRESULT_t kAbort = static_cast<HRESULT_t>(0x80004004);
constexpr HRESULT_t kFail = static_cast<HRESULT_t>(0x80004005);
constexpr HRESULT_t kOutOfMemory = static_cast<HRESULT_t>(0x8007000E);

// The decoder and the hashes use at most this many worker threads.
constexpr unsigned kMaxDecoderThreads = 8;

// The library allocates no smaller decoding window than this.
constexpr std::size_t kSmallestDictionary = 0x40000;

// Stored data is copied in blocks of this size.
constexpr std::size_t kStoredBlockSize = 0x40000;

unsigned OptionThreads() {
    const unsigned reported = std::thread::hardware_concurrency();
    return std::clamp(reported, 1u, 32u);
}

// A copy's target with "/" between components: RAR 5.0 wrote backslashes there, later versions
// slashes. The library gives names with "/" between components already, a backslash of a name
// made on Unix kept as part of it.
std::wstring ConvertTarget(const wchar_t* name) {
    std::wstring converted(name);
    std::replace(converted.begin(), converted.end(), L'\\', L'/');
    return converted;
}

// Asks for a password into a buffer of our size and copies it into the library's buffer, never
// past either.
template <typename Ask>
void FillPassword(Ask&& ask, wchar_t* destination, LPARAM destinationSize) {
    if (!destination || destinationSize <= 0) return;
    wchar_t buffer[kPasswordBufferSize] = {};
    ask(buffer);
    buffer[kPasswordBufferSize - 1] = 0;
    wcsncpyz(destination, buffer, static_cast<size_t>(destinationSize));
    cleandata(buffer, sizeof(buffer));
}

// The library's ask-for-volume message (narrow or wide) is answered with "missing": any other
// answer that leaves the name unchanged makes the library try the same name again forever.
bool IsVolumeRequest(UINT message, LPARAM mode) {
    return (message == UCM_CHANGEVOLUMEW || message == UCM_CHANGEVOLUME) && mode == RAR_VOL_ASK;
}

int CALLBACK OpenCallbackProc(UINT message, LPARAM userData, LPARAM p1, LPARAM p2) {
    auto* callback = reinterpret_cast<IOpenCallback*>(userData);
    if (IsVolumeRequest(message, p2)) return -1;
    if (message == UCM_NEEDPASSWORDW && callback) {
        bool canceled = false;
        FillPassword([&](wchar_t* buffer) { canceled = callback->GetPassword(buffer) == kAbort; }, reinterpret_cast<wchar_t*>(p1), p2);
        // No password ends the open as a missing one; a cancel ends it as a user break.
        if (canceled) ErrHandler.Exit(RARX_USERBREAK);
    }
    return 0;
}

void ResetErrorState() { ErrHandler.Clean(); }

void UseOpenCallback(Archive& archive, IOpenCallback* callback) {
    CommandData* options = archive.GetCommandData();
    options->DllOpMode = RAR_EXTRACT;
    options->Callback = OpenCallbackProc;
    options->UserData = reinterpret_cast<LPARAM>(callback);
}

// What a redirection makes of its entry. Junctions and Windows links read as symbolic links.
LinkKind LinkKindOf(FILE_SYSTEM_REDIRECT type) {
    switch (type) {
        case FSREDIR_UNIXSYMLINK:
        case FSREDIR_WINSYMLINK:
        case FSREDIR_JUNCTION: return LinkKind::Symbolic;
        case FSREDIR_HARDLINK: return LinkKind::Hard;
        default: return LinkKind::None;
    }
}

// A link's target as stored, with slashes between components: RAR 5.0 wrote the links of
// Windows with backslashes, later versions with slashes.
std::wstring LinkTarget(const FileHeader& header) {
    std::wstring target(header.RedirName);
    if (header.HSType == HSYS_WINDOWS) std::replace(target.begin(), target.end(), L'\\', L'/');
    return target;
}

std::int64_t NonNegative(std::int64_t size) { return size < 0 ? 0 : size; }

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

// The first signature in the stream's first bytes; older formats are declined before the
// library reads any of their headers (which could ask for a password).
RARFORMAT LeadingFormat(Archive& archive) {
    byte start[SIZEOF_MARKHEAD5] = {};
    archive.Seek(0, SEEK_SET);
    const int read = archive.Read(start, sizeof(start));
    archive.Seek(0, SEEK_SET);
    return read > 0 ? Archive::IsSignature(start, static_cast<size_t>(read)) : RARFMT_NONE;
}

// Writes every block to each of its streams. A block lost on any of them fails the write:
// data that never reached one destination must not pass for extracted.
class CompoundStream final : public IOutputStream {
public:
    void Add(std::shared_ptr<IOutputStream> stream) { streams_.push_back(std::move(stream)); }
    bool Empty() const { return streams_.empty(); }

    bool Write(const void* buffer, std::uint32_t size, std::uint32_t* processed) override {
        bool all = true;
        for (const auto& stream : streams_) all = stream->Write(buffer, size, processed) && all;
        return all;
    }
    bool Seek(std::int64_t offset, std::int32_t origin) override {
        bool any = false;
        for (const auto& stream : streams_) any = stream->Seek(offset, origin) || any;
        return any;
    }

private:
    std::vector<std::shared_ptr<IOutputStream>> streams_;
};

// An output the library writes each decoded block into; each stream gets the whole block or
// the write fails.
class FullWriter final : public IOutputStream {
public:
    explicit FullWriter(std::shared_ptr<IOutputStream> stream) : stream_(std::move(stream)) {}
    bool Write(const void* buffer, std::uint32_t size, std::uint32_t* processed) override {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        std::uint32_t done = 0;
        while (done < size) {
            std::uint32_t written = 0;
            if (!stream_->Write(bytes + done, size - done, &written) || written == 0 || written > size - done) break;
            done += written;
        }
        if (processed) *processed = done;
        return done == size;
    }
    bool Seek(std::int64_t offset, std::int32_t origin) override { return stream_->Seek(offset, origin); }

private:
    std::shared_ptr<IOutputStream> stream_;
};

}  // namespace

Reader::Reader() = default;

Reader::~Reader() = default;

void Reader::Close() {
    archive_.reset();
    refItems_.clear();
    entries_.clear();
    headersDamaged_ = false;
    cutShort_ = false;
}

std::uint64_t Reader::PackedSize(std::uint32_t index) const {
    const RefItem& item = refItems_[index];
    std::uint64_t total = 0;
    for (std::uint32_t i = 0; i < item.entryCount && item.firstEntry + i < entries_.size(); ++i)
        total = SaturatingAdd(total, static_cast<std::uint64_t>(entries_[item.firstEntry + i].packedSize));
    return total;
}

HRESULT_t Reader::Open(std::shared_ptr<IInputStream> input, std::shared_ptr<IOpenCallback> callback) {
    try {
        Close();
        archive_ = std::make_shared<::Archive>();
        archive_->SetInputStream(std::move(input));
        archive_->SetOpenCallback(callback);
        UseOpenCallback(*archive_, callback.get());
        archive_->GetCommandData()->Threads = OptionThreads();
        // Every header is walked anyway; the quick-open copy of them would only be a second,
        // separately decrypted source of the same headers.
        archive_->GetCommandData()->QOpenMode = QOPEN_NONE;

        const std::wstring name = callback ? callback->GetArchiveName() : std::wstring();
        if (!archive_->Open(name.c_str())) {
            ErrHandler.SetErrorCode(RARX_OPEN);
            return kFail;
        }
        return OpenVolumes();
    } catch (RAR_EXIT code) {
        // The library breaks off when the caller gave no password: the archive is not opened,
        // but nothing was cancelled.
        const bool passwordMissing = archive_ && archive_->GetCommandData()->DllError == ERAR_MISSING_PASSWORD;
        return code == RARX_USERBREAK && !passwordMissing ? kAbort : kFail;
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    } catch (...) {
        return kFail;
    }
}

HRESULT_t Reader::OpenVolumes() {
    ::Archive& archive = *archive_;
    bool restartedFromFirst = false;
    for (;;) {
        ResetErrorState();
        const RARFORMAT leading = LeadingFormat(archive);
        if (leading == RARFMT14 || leading == RARFMT15) return kFalse;
        if (!archive.IsArchive(false)) {
            // The file ends before the main header is whole: the archive is cut short, and a
            // header that could not be decrypted was cut, not decrypted with a wrong password
            // (one that fails the encryption header's check value ends the open before).
            cutShort_ = archive.Format == RARFMT50 && archive.Tell() >= archive.FileLength();
            return kFail;
        }
        if (archive.Format < RARFMT50 || archive.FailedHeaderDecryption) return kFalse;

        // Opened on a later volume: start over from the first one, once.
        if (archive.Volume && !archive.FirstVolume && archive.FirstVolumeName[0] == 0 && !restartedFromFirst) {
            restartedFromFirst = true;
            const std::wstring first = FirstVolumeName(archive.FileName, archive.NewNumbering);
            archive.Close();
            if (!archive.Open(first.c_str())) {
                ErrHandler.SetErrorCode(RARX_OPEN);
                return kFail;
            }
            continue;
        }

        bool lastSplitAfter = false;
        bool nextVolume = false;
        bool ended = false;
        while (archive.ReadHeader() != 0) {
            // The library keeps the flag until the next volume's check.
            headersDamaged_ = headersDamaged_ || archive.BrokenHeader;
            const HEADER_TYPE type = archive.GetHeaderType();
            if (type == HEAD_ENDARC) {
                nextVolume = archive.EndArcHead.NextVolume;
                ended = true;
                break;
            }
            if (type == HEAD_FILE) {
                RecordFileHeader(archive.VolNumber);
                lastSplitAfter = archive.FileHead.SplitAfter;
            }
            archive.SeekToNext();
        }
        // Every RAR 5 volume closes with an end-of-archive header.
        cutShort_ = cutShort_ || !ended;
        if (!(lastSplitAfter || nextVolume) || !archive.Volume) break;
        if (!MergeArchive(archive, nullptr, false, 'L')) break;
        archive.Seek(0, SEEK_SET);
    }
    return kOk;
}

void Reader::RecordFileHeader(std::uint32_t volumeNumber) {
    const FileHeader& header = archive_->FileHead;
    RefItem started;
    started.volumeNumber = volumeNumber;
    started.firstEntry = static_cast<std::uint32_t>(entries_.size());
    if (header.RedirType == FSREDIR_FILECOPY) {
        const std::wstring target = ConvertTarget(header.RedirName);
        const auto found = std::find_if(refItems_.begin(), refItems_.end(),
                                        [&](const RefItem& item) {
                                            const std::wstring& name = entries_[item.firstEntry].name;
                                            return name == header.RedirName || name == target;
                                        });
        // A copy of something not in the archive has nothing to be extracted from.
        if (found == refItems_.end()) return;
        started.isLink = true;
        // A copy of a copy is decoded from the original.
        started.linkTarget = found->isLink ? found->linkTarget : static_cast<std::uint32_t>(found - refItems_.begin());
    }
    if (!header.SplitBefore || refItems_.empty()) refItems_.push_back(started);

    EntryInfo entry;
    entry.headerPosition = archive_->CurBlockPos;
    entry.accessTime = const_cast<RarTime&>(header.atime).GetWin();
    entry.creationTime = const_cast<RarTime&>(header.ctime).GetWin();
    entry.modificationTime = const_cast<RarTime&>(header.mtime).GetWin();
    entry.packedSize = NonNegative(header.PackSize);
    entry.unpackedSize = NonNegative(header.UnpSize);
    entry.name = header.FileName;
    entry.isDirectory = header.Dir;
    entry.isEncrypted = header.Encrypted;
    entry.attributes = header.FileAttr;
    entry.unixAttributes = header.HSType == HSYS_UNIX;
    entry.link = LinkKindOf(header.RedirType);
    if (entry.link != LinkKind::None) entry.linkTarget = LinkTarget(header);
    entries_.push_back(std::move(entry));
    refItems_.back().entryCount++;
}

std::vector<Reader::ExtractPlanItem> Reader::Plan(const std::vector<std::uint32_t>& indices) const {
    std::map<std::uint32_t, std::vector<std::uint32_t>> extractItems;
    const auto visit = [&](std::uint32_t index, bool requested) {
        if (index >= refItems_.size()) return;
        extractItems.try_emplace(index);
        const RefItem& item = refItems_[index];
        if (item.isLink) {
            // A copy asked for alone still needs its source decoded, into the copy's stream.
            auto& target = extractItems[item.linkTarget];
            if (requested) target.push_back(index);
        } else if (requested) {
            extractItems[index].push_back(index);
        }
    };
    if (archive_->Solid) {
        std::vector<std::uint32_t> sorted(indices);
        std::sort(sorted.begin(), sorted.end());
        for (std::uint32_t index = 0; index < refItems_.size(); ++index)
            visit(index, std::binary_search(sorted.begin(), sorted.end(), index));
    } else {
        for (const std::uint32_t index : indices) visit(index, true);
    }

    std::vector<ExtractPlanItem> plan;
    for (auto& [index, destinations] : extractItems) {
        // The same index asked for twice gets one stream.
        std::sort(destinations.begin(), destinations.end());
        destinations.erase(std::unique(destinations.begin(), destinations.end()), destinations.end());
        plan.push_back(ExtractPlanItem{index, std::move(destinations)});
    }
    return plan;
}

namespace {

// What the decoding thread hands to the delivering thread, in order.
struct Event {
    enum class Kind {
        Begin,  // the item's header was read
        Open,   // its data follows: its streams are asked for
        Data,   // decoded bytes of the item
        End,    // the item's result
        Call,   // work the decoding thread needs done on the delivering thread
    };
    Kind kind = Kind::Begin;
    std::size_t step = 0;
    std::vector<std::uint8_t> data;
    std::int32_t result = kResultOk;
    HRESULT_t outcome = kOk;
    // What the decoded data showed, when it was taken.
    enum class Check { Passed, HashMismatch, GoesOnInMissingVolume };
    Check check = Check::Passed;
    const std::function<void()>* call = nullptr;
};

// Thrown on the decoding thread once delivery has stopped: nobody wants what it decodes.
struct DecodingStopped {};

// The meeting point of the two threads of an extraction. Decoded bytes waiting here are bounded:
// the decoding side blocks beyond that, and while the delivering side runs a call for it. Once
// delivery stops, every blocking call of the decoding side throws DecodingStopped.
class Handoff {
public:
    // Decoded data the decoding thread may have ahead of delivery.
    static constexpr std::size_t kAheadBytes = 16 << 20;

    void Post(Event event) {
        std::unique_lock lock(mutex_);
        Enqueue(lock, std::move(event));
    }

    // Runs call on the delivering thread, between the events posted before and after it.
    void Call(const std::function<void()>& call) {
        Event event;
        event.kind = Event::Kind::Call;
        event.call = &call;
        std::unique_lock lock(mutex_);
        Enqueue(lock, std::move(event));
        const std::uint64_t ticket = ++callsPosted_;
        taken_.wait(lock, [&] { return stopped_ || callsDone_ == ticket; });
        if (callsDone_ != ticket) throw DecodingStopped();
    }

    // The decoding thread's last word: kOk once every item was posted, else the failure that
    // ended it. Allocates nothing, so that it cannot fail.
    void Finish(HRESULT_t result) noexcept {
        std::lock_guard lock(mutex_);
        finished_ = true;
        result_ = result;
        posted_.notify_one();
    }

    bool IsStopped() {
        std::lock_guard lock(mutex_);
        return stopped_;
    }

    // The next event, or nothing once the decoding thread has finished and every event was
    // taken (FinalResult then says how it ended).
    std::optional<Event> Take() {
        std::unique_lock lock(mutex_);
        posted_.wait(lock, [&] { return !events_.empty() || finished_; });
        if (events_.empty()) return std::nullopt;
        Event event = std::move(events_.front());
        events_.pop_front();
        queuedBytes_ -= event.data.size();
        taken_.notify_one();
        return event;
    }

    HRESULT_t FinalResult() {
        std::lock_guard lock(mutex_);
        return result_;
    }

    void CallDone() {
        std::lock_guard lock(mutex_);
        ++callsDone_;
        taken_.notify_one();
    }

    void Stop() {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        events_.clear();
        queuedBytes_ = 0;
        taken_.notify_one();
    }

private:
    void Enqueue(std::unique_lock<std::mutex>& lock, Event event) {
        const std::size_t size = event.data.size();
        taken_.wait(lock, [&] { return stopped_ || queuedBytes_ == 0 || queuedBytes_ + size <= kAheadBytes; });
        if (stopped_) throw DecodingStopped();
        queuedBytes_ += size;
        events_.push_back(std::move(event));
        posted_.notify_one();
    }

    std::mutex mutex_;
    std::condition_variable posted_;
    std::condition_variable taken_;
    std::deque<Event> events_;
    std::size_t queuedBytes_ = 0;
    std::uint64_t callsPosted_ = 0;
    std::uint64_t callsDone_ = 0;
    bool stopped_ = false;
    bool finished_ = false;
    HRESULT_t result_ = kOk;
};

// Where the library writes an item's decoded data: into the handoff, in pieces of at most 1 MiB.
class HandoffSink final : public IOutputStream {
public:
    explicit HandoffSink(Handoff& handoff) : handoff_(handoff) {}

    bool Write(const void* buffer, std::uint32_t size, std::uint32_t* processed) override {
        constexpr std::uint32_t kPiece = 1 << 20;
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        for (std::uint32_t done = 0; done < size;) {
            const std::uint32_t piece = std::min(size - done, kPiece);
            Event event;
            event.kind = Event::Kind::Data;
            event.data.assign(bytes + done, bytes + done + piece);
            handoff_.Post(std::move(event));
            done += piece;
        }
        if (processed) *processed = size;
        return true;
    }
    bool Seek(std::int64_t, std::int32_t) override { return false; }

private:
    Handoff& handoff_;
};

// The open callback as the decoding thread sees it: every call runs on the delivering thread,
// so that the application hears from one thread at a time.
class DeliveredOpenCallback final : public IOpenCallback {
public:
    DeliveredOpenCallback(std::shared_ptr<IOpenCallback> callback, Handoff& handoff) : callback_(std::move(callback)), handoff_(handoff) {}

    std::wstring GetArchiveName() override {
        std::wstring name;
        handoff_.Call([&] { name = callback_->GetArchiveName(); });
        return name;
    }
    HRESULT_t OpenVolume(const std::wstring& name, std::shared_ptr<IInputStream>& stream) override {
        HRESULT_t result = kFail;
        handoff_.Call([&] { result = callback_->OpenVolume(name, stream); });
        return result;
    }
    HRESULT_t GetPassword(wchar_t* buffer) override {
        HRESULT_t result = kFail;
        handoff_.Call([&] { result = callback_->GetPassword(buffer); });
        return result;
    }

private:
    std::shared_ptr<IOpenCallback> callback_;
    Handoff& handoff_;
};

}  // namespace

// One Extract call, on two threads: the library decodes the planned items on a thread of its
// own, ahead of the caller's thread, which hands each item to its streams and makes every
// callback, in the order a single thread would. While the application creates, fills and closes
// the files of one item, the next one is being decoded.
class Reader::Extraction {
public:
    Extraction(Reader& reader, std::shared_ptr<IExtractCallback> callback)
        : reader_(reader),
          archive_(*reader.archive_),
          options_(*archive_.GetCommandData()),
          callback_(std::move(callback)),
          openCallback_(archive_.OpenCallback()) {}

    ~Extraction() {
        if (decoder_.joinable()) {
            handoff_.Stop();
            decoder_.join();
        }
        archive_.SetOpenCallback(openCallback_);
        // The open callback stays in place for the library's later volume requests.
        UseOpenCallback(archive_, openCallback_.get());
    }

    HRESULT_t Run(const std::vector<std::uint32_t>& indices) {
        std::uint64_t total = 0;
        for (const std::uint32_t index : indices) {
            if (index >= reader_.refItems_.size()) continue;
            const EntryInfo& entry = reader_.FirstEntry(index);
            if (!entry.isDirectory) total = SaturatingAdd(total, static_cast<std::uint64_t>(entry.unpackedSize));
        }
        if (!callback_->SetTotal(total)) return kAbort;

        plan_ = reader_.Plan(indices);
        options_.DllOpMode = RAR_EXTRACT;
        options_.Callback = CallbackProc;
        options_.UserData = reinterpret_cast<LPARAM>(this);
        if (openCallback_) archive_.SetOpenCallback(std::make_shared<DeliveredOpenCallback>(openCallback_, handoff_));
        decoder_ = std::thread([this] { Decode(); });

        HRESULT_t result = kFail;
        try {
            result = Deliver();
        } catch (const std::bad_alloc&) {
            result = ItemFailed(kOutOfMemory);
        } catch (...) {
            result = ItemFailed(kFail);
        }
        handoff_.Stop();
        decoder_.join();
        return result;
    }

private:
    // The library's callback, on the decoding thread.
    static int CALLBACK CallbackProc(UINT message, LPARAM userData, LPARAM p1, LPARAM p2) {
        auto* self = reinterpret_cast<Extraction*>(userData);
        if (IsVolumeRequest(message, p2)) return -1;
        switch (message) {
            case UCM_PROCESSDATA:
                // A stopped delivery ends the decoding at once, as a user break.
                return self->handoff_.IsStopped() ? -1 : 0;
            case UCM_NEEDPASSWORDW:
                self->handoff_.Call([&] { self->AskPassword(reinterpret_cast<wchar_t*>(p1), p2); });
                return 0;
            default:
                return 0;
        }
    }

    // ---- The decoding thread ----

    void Decode() {
        HRESULT_t result = kFail;
        try {
            result = DecodePlan();
        } catch (const DecodingStopped&) {
            result = kAbort;
        } catch (RAR_EXIT code) {
            result = code == RARX_USERBREAK ? kAbort : kFail;
        } catch (const std::bad_alloc&) {
            result = kOutOfMemory;
        } catch (...) {
            result = kFail;
        }
        handoff_.Finish(result);
    }

    HRESULT_t DecodePlan() {
        ResetErrorState();
        if (archive_.Volume && archive_.VolNumber != 0) RewindToFirstVolume();
        if (archive_.Solid) {
            archive_.Seek(0, SEEK_SET);
            if (!archive_.IsArchive(false)) return kFail;
        }
        // Each item sets its own volume state before it is decoded; the library's file header
        // is not filled in before a file header is read.
        dataIO_.UnpVolume = false;
        dataIO_.NextVolumeMissing = false;
        unpack_ = std::make_unique<Unpack>(&dataIO_);
        unpack_->SetThreads(std::min(options_.Threads, kMaxDecoderThreads));

        for (std::size_t step = 0; step < plan_.size(); ++step) {
            if (const HRESULT_t result = DecodeItem(step); result != kOk) return result;
        }
        return kOk;
    }

    void RewindToFirstVolume() {
        archive_.Close();
        archive_.VolNumber = 0;
        if (archive_.FirstVolumeName[0] == 0 || !archive_.Open(archive_.FirstVolumeName)) return;
        // The header keys of a volume belong to that volume.
        archive_.Seek(0, SEEK_SET);
        archive_.IsArchive(false);
    }

    // Moves forward through the volumes to the one holding an item's first header.
    bool ReachVolume(std::uint32_t volumeNumber) {
        if (archive_.VolNumber > volumeNumber) RewindToFirstVolume();
        while (archive_.VolNumber != volumeNumber)
            if (!MergeArchive(archive_, &dataIO_, false, 'E')) return false;
        return true;
    }

    // The next header of an item in sequence, across volume ends; service headers and
    // continuations of split files are passed over.
    bool NextItemHeader() {
        bool haveHeader = false;
        for (;;) {
            if (!haveHeader && archive_.ReadHeader() == 0) return false;
            haveHeader = false;
            const HEADER_TYPE type = archive_.GetHeaderType();
            if (type == HEAD_ENDARC) {
                if (!archive_.EndArcHead.NextVolume || !MergeArchive(archive_, &dataIO_, false, 'E')) return false;
                haveHeader = true;
                continue;
            }
            if (type == HEAD_FILE && !archive_.FileHead.SplitBefore) return true;
            archive_.SeekToNext();
        }
    }

    bool HeaderOfItem(const EntryInfo& entry) {
        if (archive_.Solid) return NextItemHeader();
        archive_.Seek(entry.headerPosition, SEEK_SET);
        return archive_.ReadHeader() != 0 && archive_.GetHeaderType() == HEAD_FILE;
    }

    void Post(Event::Kind kind, std::size_t step) {
        Event event;
        event.kind = kind;
        event.step = step;
        handoff_.Post(std::move(event));
    }

    void PostEnd(std::size_t step, std::int32_t result, HRESULT_t outcome, Event::Check check = Event::Check::Passed) {
        Event event;
        event.kind = Event::Kind::End;
        event.step = step;
        event.result = result;
        event.outcome = outcome;
        event.check = check;
        handoff_.Post(std::move(event));
    }

    // Decodes one planned item into the handoff. Anything but kOk ends the decoding.
    HRESULT_t DecodeItem(std::size_t step) {
        const RefItem& item = reader_.refItems_[plan_[step].index];
        const EntryInfo& entry = reader_.entries_[item.firstEntry];
        const bool solid = archive_.Solid;

        if (!solid && !ReachVolume(item.volumeNumber)) {
            PostEnd(step, kResultUnsupported, kFalse);
            return kOk;
        }
        if (!HeaderOfItem(entry)) return kOk;
        // A header that failed its checksum was reported when the archive was opened; the
        // item's data is judged by its own checksum.
        if (archive_.BrokenHeader) ResetErrorState();
        FileHeader& header = archive_.FileHead;
        Post(Event::Kind::Begin, step);

        const bool hasData = !header.Dir && header.RedirType == FSREDIR_NONE;
        if (hasData && header.Encrypted) {
            bool obtained = false;
            handoff_.Call([&] { obtained = ObtainPassword(); });
            if (!obtained) {
                if (passwordCancelled_) return kAbort;
                // Nothing to decrypt with: the caller hears of the entry, which fails, and of
                // every other one in turn.
                Post(Event::Kind::Open, step);
                archive_.SeekToNext();
                PostEnd(step, kResultDataError, kOk);
                return kOk;
            }
        }
        Post(Event::Kind::Open, step);

        if (!hasData) {
            archive_.SeekToNext();
            PostEnd(step, kResultOk, kOk);
            return kOk;
        }
        // Sizes a header cannot honestly carry are refused rather than handed to the decoder.
        if (header.PackSize < 0 || (header.UnpSize < 0 && !header.UnknownUnpSize)) {
            archive_.SeekToNext();
            PostEnd(step, kResultDataError, kOk);
            return kOk;
        }
        // A newer decoder than this library has (RAR 7 dictionaries over 4 GiB, say), or
        // encryption it cannot set up: the library would leave its cipher without a key.
        if ((header.Method != 0 && header.UnpVer > VER_UNPACK5) ||
            (header.Encrypted && (header.CryptMethod != CRYPT_RAR50 || header.Lg2Count > CRYPT5_KDF_LG2_COUNT_MAX))) {
            archive_.SeekToNext();
            PostEnd(step, kResultUnsupported, solid ? kFalse : kOk);
            return kOk;
        }

        File output(nullptr, nullptr, sink_);
        dataIO_.UnpVolume = header.SplitAfter;
        dataIO_.NextVolumeMissing = false;
        archive_.Seek(archive_.NextBlockPos - header.PackSize, SEEK_SET);

        if (header.Encrypted) {
            SecPassword password = options_.Password;
            byte check[SIZE_PSWCHECK] = {};
            dataIO_.SetEncryption(false, header.CryptMethod, &password, header.SaltSet ? header.Salt : nullptr, header.InitV,
                                  header.Lg2Count, header.HashKey, check);
            if (header.UsePswCheck && !archive_.BrokenHeader && memcmp(header.PswCheck, check, SIZE_PSWCHECK) != 0) {
                // Asked for again by the next encrypted entry, which is tried as well.
                options_.Password.Clean();
                archive_.SeekToNext();
                PostEnd(step, kResultDataError, kOk);
                return kOk;
            }
        } else {
            dataIO_.SetEncryption(false, CRYPT_NONE, nullptr, nullptr, nullptr, 0, nullptr, nullptr);
        }

        // The counters only: the context's full reset would also drop decryption and volume state.
        dataIO_.CurUnpRead = 0;
        dataIO_.CurUnpWrite = 0;
        dataIO_.CurPackRead = 0;
        dataIO_.CurPackWrite = 0;
        dataIO_.UnpHash.Init(header.FileHash.Type, options_.Threads);
        dataIO_.PackedDataHash.Init(header.FileHash.Type, options_.Threads);
        dataIO_.SetPackedSizeToRead(header.PackSize);
        dataIO_.SetFiles(&archive_, &output);
        dataIO_.SetTestMode(false);
        dataIO_.SetSkipUnpCRC(false);

        if (!header.SplitBefore) {
            if (header.Method == 0) {
                CopyStored(header.UnpSize);
            } else {
                unpack_->Init(Dictionary(header), header.Solid);
                unpack_->SetDestSize(header.UnpSize);
                unpack_->DoUnpack(header.UnpVer, header.Solid);
            }
        }
        archive_.SeekToNext();

        // After decoding, the current header is that of the file's last volume, which holds
        // the whole file's hash and says whether the file goes on.
        FileHeader& last = archive_.FileHead;
        const Event::Check check = last.SplitAfter ? Event::Check::GoesOnInMissingVolume
                                   : !dataIO_.UnpHash.Cmp(&last.FileHash, last.UseHashKey ? last.HashKey : nullptr) ? Event::Check::HashMismatch
                                                                                                                      : Event::Check::Passed;
        if (ErrHandler.GetErrorCount() != 0) {
            if (ErrHandler.GetErrorCode() == RARX_USERBREAK) return kAbort;
            PostEnd(step, kResultUnsupported, kFail, check);
        } else {
            PostEnd(step, kResultOk, kOk, check);
        }
        return kOk;
    }

    // The dictionary to decode an item with. A file decoded on its own never refers further back
    // than its own size, so a header asking for more (up to 4 GiB, which the library allocates
    // and clears at once, even for a file of a few bytes) is held to the file's size.
    std::size_t Dictionary(const FileHeader& header) const {
        if (header.UnknownUnpSize) return header.WinSize;
        // A window never holds more than what passes through it: a file its own size, a solid
        // stream every file of the archive. The library fills the whole window when it makes it.
        const std::uint64_t content = archive_.Solid || header.Solid ? ContentSize() : static_cast<std::uint64_t>(header.UnpSize);
        std::size_t size = kSmallestDictionary;
        while (size < header.WinSize && size < content) size <<= 1;
        return size;
    }

    std::uint64_t ContentSize() const {
        std::uint64_t total = 0;
        for (const EntryInfo& entry : reader_.entries_) total = SaturatingAdd(total, static_cast<std::uint64_t>(entry.unpackedSize));
        return total;
    }

    void CopyStored(std::int64_t remaining) {
        std::vector<byte> buffer(kStoredBlockSize);
        for (;;) {
            const int read = dataIO_.UnpRead(buffer.data(), buffer.size());
            if (read <= 0) break;
            const int write = read < remaining ? read : static_cast<int>(std::max<std::int64_t>(remaining, 0));
            if (write > 0) {
                dataIO_.UnpWrite(buffer.data(), static_cast<size_t>(write));
                remaining -= write;
            }
        }
    }

    // ---- The delivering thread ----

    // Makes the callbacks for every event until the decoding ends or an answer stops it.
    HRESULT_t Deliver() {
        while (const std::optional<Event> event = handoff_.Take()) {
            HRESULT_t result = kOk;
            switch (event->kind) {
                case Event::Kind::Begin:
                    if (!callback_->PrepareOperation()) return kAbort;
                    itemOpen_ = true;
                    break;
                case Event::Kind::Call:
                    (*event->call)();
                    handoff_.CallDone();
                    break;
                case Event::Kind::Open: result = OpenDestinations(plan_[event->step]); break;
                case Event::Kind::Data: result = Write(event->data); break;
                case Event::Kind::End: result = EndItem(*event); break;
            }
            if (result != kOk) return result;
        }
        const HRESULT_t result = handoff_.FinalResult();
        return result == kOk ? kOk : ItemFailed(result);
    }

    HRESULT_t OpenDestinations(const ExtractPlanItem& step) {
        destination_ = std::make_shared<CompoundStream>();
        destinationCount_ = step.destinations.size();
        for (const std::uint32_t index : step.destinations) {
            std::shared_ptr<IOutputStream> stream;
            if (const HRESULT_t result = callback_->GetStream(index, stream); result != kOk) return result;
            if (stream) {
                destination_->Add(std::make_shared<FullWriter>(std::move(stream)));
            } else {
                // Nothing will be written for it: count its bytes as done.
                progress_ = SaturatingAdd(progress_, static_cast<std::uint64_t>(reader_.FirstEntry(index).unpackedSize));
                if (!callback_->SetCompleted(&progress_)) return kAbort;
            }
        }
        return kOk;
    }

    HRESULT_t Write(const std::vector<std::uint8_t>& data) {
        if (!destination_ || destination_->Empty()) return kOk;
        std::uint32_t written = 0;
        if (!destination_->Write(data.data(), static_cast<std::uint32_t>(data.size()), &written)) return ItemFailed(kFail);
        progress_ = SaturatingAdd(progress_, data.size());
        return callback_->SetCompleted(&progress_) ? kOk : kAbort;
    }

    HRESULT_t EndItem(const Event& end) {
        const bool opened = destination_ != nullptr;
        const bool taken = opened && !destination_->Empty();
        HRESULT_t result = kOk;
        if (opened && !taken && destinationCount_ != 0 && !archive_.Solid) {
            // Nobody took the item: it counts as passed over, whatever decoding found.
            result = Report(kResultOk, kOk);
        } else if (taken && end.check == Event::Check::GoesOnInMissingVolume) {
            // Not damaged, but incomplete: what remains is in a volume that is not there.
            result = Report(kResultDataError, kFalse);
        } else if (taken && end.check == Event::Check::HashMismatch) {
            result = Report(kResultCrcError, kFalse);
        } else {
            result = Report(end.result, end.outcome);
        }
        // The item's streams are let go once its result is known.
        destination_.reset();
        return result;
    }

    // Reports the item's result; the caller may still stop the extraction there (a cancel, or
    // a retry it wants to run).
    HRESULT_t Report(std::int32_t result, HRESULT_t outcome) {
        itemOpen_ = false;
        return callback_->SetOperationResult(result) ? outcome : kAbort;
    }

    // A failure that ends the extraction; the item under way hears about it unless the
    // extraction was cancelled.
    HRESULT_t ItemFailed(HRESULT_t failure) {
        if (itemOpen_ && failure != kAbort) callback_->SetOperationResult(kResultUnsupported);
        itemOpen_ = false;
        return failure;
    }

    void AskPassword(wchar_t* buffer, LPARAM size) {
        FillPassword(
            [&](wchar_t* ours) {
                if (callback_->GetPassword(ours) == kAbort) passwordCancelled_ = true;
            },
            buffer, size);
    }

    // The options' password, or one asked for.
    bool ObtainPassword() {
        if (options_.Password.IsSet()) return true;
        wchar_t wide[MAXPASSWORD] = {};
        AskPassword(wide, ASIZE(wide));
        if (wide[0] != 0) {
            options_.Password.Set(wide);
            options_.ManualPassword = true;
        }
        cleandata(wide, sizeof(wide));
        return options_.Password.IsSet();
    }

    Reader& reader_;
    ::Archive& archive_;
    CommandData& options_;
    const std::shared_ptr<IExtractCallback> callback_;
    const std::shared_ptr<IOpenCallback> openCallback_;
    std::vector<ExtractPlanItem> plan_;
    Handoff handoff_;
    std::thread decoder_;

    // The decoding thread's.
    const std::shared_ptr<HandoffSink> sink_ = std::make_shared<HandoffSink>(handoff_);
    ComprDataIO dataIO_;
    std::unique_ptr<Unpack> unpack_;

    // The delivering thread's, except passwordCancelled_, which a call sets for the decoding
    // thread (the handoff orders the two).
    std::shared_ptr<CompoundStream> destination_;
    std::size_t destinationCount_ = 0;
    std::uint64_t progress_ = 0;
    bool itemOpen_ = false;
    bool passwordCancelled_ = false;
};

HRESULT_t Reader::Extract(const std::vector<std::uint32_t>& indices, std::shared_ptr<IExtractCallback> callback) {
    if (!archive_ || !callback) return kFail;
    try {
        Extraction extraction(*this, std::move(callback));
        return extraction.Run(indices);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    } catch (...) {
        return kFail;
    }
}

}  // namespace UnRAR
