#include "archive/FormatProbe.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "rar/RarHandlerFactory.h"
#include "zorvik/runtime/oleauto.h"

namespace Zorvik::Impl {

namespace {

using zorvik::rt::com_ptr;

// How much of the stream's start the signature pass searches.
constexpr std::uint32_t kSignatureWindow = 0x40000;

std::vector<std::uint8_t> ReadStart(Engine::IInStream* stream, std::uint32_t window = kSignatureWindow) {
    std::vector<std::uint8_t> bytes(window);
    std::size_t filled = 0;
    if (stream->Seek(0, 0, nullptr) == S_OK) {
        // Streams may answer in pieces: read until the window is full or the stream ends.
        while (filled < bytes.size()) {
            std::uint32_t read = 0;
            if (stream->Read(bytes.data() + filled, static_cast<std::uint32_t>(bytes.size() - filled), &read) != S_OK || read == 0) break;
            filled += read;
        }
    }
    bytes.resize(filled);
    stream->Seek(0, 0, nullptr);
    return bytes;
}

bool Contains(const std::vector<std::uint8_t>& haystack, const std::vector<std::uint8_t>& needle) {
    return std::search(haystack.begin(), haystack.end(), std::boyer_moore_horspool_searcher(needle.begin(), needle.end())) !=
           haystack.end();
}

class Prober {
public:
    Prober(Engine::IInStream* stream, OpenArchiveHandler& handler, IArchiveSource* source, std::uint64_t archiveSize)
        : stream_(stream), handler_(handler), source_(source), archiveSize_(archiveSize) {}

    // One format, repeated while the engine got a password and still failed, so that the
    // caller is asked again. Not when a handler found the archive cut short: it read past where
    // the password was checked, so the password stands, for the formats tried after this one
    // too; asked again, the caller would take it for wrong.
    com_ptr<Engine::IInArchive> Attempt(const FormatRecord& format) {
        for (;;) {
            handler_.SetTotalSize(archiveSize_);
            if (!passwordStands_) handler_.ClearCachedPassword();
            endedEarly_ = false;
            if (auto opened = TryOpen(format)) return opened;
            // A password that stands was not asked for again: trying again would fail the same.
            if (!handler_.CachedPassword() || passwordStands_) return nullptr;
            if (endedEarly_) {
                passwordStands_ = true;
                return nullptr;
            }
        }
    }

private:
    com_ptr<Engine::IInArchive> TryOpen(const FormatRecord& format) {
        if (NamesEqual(format.Name, L"Rar") || NamesEqual(format.Name, L"Rar5")) {
            // The in-process reader first (the engine lists RAR 5 as a format of its own, ahead
            // of the older one); what it declines goes to the engine's handler.
            if (auto rar = RAR::CreateHandler(); rar && Open(rar.get())) return rar;
        }
        com_ptr<Engine::IInArchive> handler;
        if (FAILED(Engine::EngineModule::Get().CreateObject(&format.ClassId, &Engine::IInArchive::iid, handler.put_void())) || !handler)
            return nullptr;
        return Open(handler.get()) ? handler : nullptr;
    }

    bool Open(Engine::IInArchive* handler) {
        const HRESULT result = handler->Open(stream_, nullptr, &handler_);
        if (result != S_OK) {
            if (result == E_ABORT) throw zorvik::rt::canceled_error();
            zorvik::rt::prop_variant flags;
            if (handler->GetArchiveProperty(Engine::kpidErrorFlags, flags.put()) == S_OK)
                endedEarly_ = endedEarly_ || (flags.as_uint64().value_or(0) & Engine::kErrorFlagsUnexpectedEnd) != 0;
            stream_->Seek(0, 0, nullptr);
        }
        zorvik::rt::check_hresult(source_->ReportOpenAttempt(result == S_OK));
        return result == S_OK;
    }

    Engine::IInStream* stream_;
    OpenArchiveHandler& handler_;
    IArchiveSource* source_;
    std::uint64_t archiveSize_;
    bool endedEarly_ = false;      // a handler of this attempt found the archive cut short
    bool passwordStands_ = false;  // the password given was read past: it is not asked again
};

}  // namespace

bool HasExtension(const FormatRecord& format, std::wstring_view extension) {
    return std::any_of(format.Extensions.begin(), format.Extensions.end(),
                       [&](const FormatExtension& pair) { return NamesEqual(pair.Extension, extension); });
}

std::optional<OpenedArchive> ProbeFormats(const FormatList& formats, Engine::IInStream* stream, OpenArchiveHandler& handler,
                                          IArchiveSource* source, std::uint64_t archiveSize) {
    Prober prober(stream, handler, source, archiveSize);
    std::vector<bool> tried(formats.size(), false);
    const auto attempt = [&](std::size_t index) -> std::optional<OpenedArchive> {
        if (auto opened = prober.Attempt(formats[index])) return OpenedArchive{std::move(opened), formats[index]};
        tried[index] = true;
        return std::nullopt;
    };

    if (const std::wstring extension = handler.ArchiveExtension(); !extension.empty()) {
        for (std::size_t i = 0; i < formats.size(); ++i) {
            if (HasExtension(formats[i], extension))
                if (auto opened = attempt(i)) return opened;
        }
    }

    const std::vector<std::uint8_t> start = ReadStart(stream);
    for (std::size_t i = 0; i < formats.size(); ++i) {
        if (tried[i] || formats[i].Signature.empty() || !Contains(start, formats[i].Signature)) continue;
        if (auto opened = attempt(i)) return opened;
    }
    return std::nullopt;
}

std::wstring FormatAtStart(const FormatList& formats, Engine::IInStream* stream) {
    // Longer than any signature the engine lists.
    constexpr std::uint32_t kLongestSignature = 64;
    const std::vector<std::uint8_t> start = ReadStart(stream, kLongestSignature);
    for (const FormatRecord& format : formats)
        if (!format.Signature.empty() && format.Signature.size() <= start.size() &&
            std::equal(format.Signature.begin(), format.Signature.end(), start.begin()))
            return format.Name;
    return {};
}

}  // namespace Zorvik::Impl
