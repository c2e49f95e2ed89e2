// Extraction: the planned items decoded on a thread of the library's, delivered to the caller's
// streams and callbacks on the calling thread, through the hand-off between the two.
#include "rar.hpp"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <thread>

#include "rar/UnRAR.Shared/Handoff.h"
#include "rar/UnRAR.Shared/ReaderInternals.h"
#include "rar/UnRAR.Shared/UnRAR.h"

namespace UnRAR {

namespace {

// The decoder and the hashes use at most this many worker threads.
constexpr unsigned kMaxDecoderThreads = 8;

// The library allocates no smaller decoding window than this.
constexpr std::size_t kSmallestDictionary = 0x40000;

// Stored data is copied in blocks of this size.
constexpr std::size_t kStoredBlockSize = 0x40000;

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
        case UCM_NEEDPASSWORDW: self->handoff_.Call([&] { self->AskPassword(reinterpret_cast<wchar_t*>(p1), p2); }); return 0;
        default: return 0;
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
                                   : !dataIO_.UnpHash.Cmp(&last.FileHash, last.UseHashKey ? last.HashKey : nullptr)
                                       ? Event::Check::HashMismatch
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
