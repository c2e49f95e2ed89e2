// The engine's open callbacks for one open operation: the archive's name and size, further
// volumes, the sub-archive name and the password, passed on to the caller's IArchiveSource.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/ComponentObject.h"
#include "engine/EngineInterfaces.h"
#include "engine/InputStreamAdapter.h"
#include "zorvik/Archive.h"

namespace Zorvik::Impl {

class OpenArchiveHandler final
    : public ComponentObject<OpenArchiveHandler, Engine::IArchiveOpenCallback, Engine::IArchiveOpenVolumeCallback,
                             Engine::IArchiveOpenSetSubArchiveName, Engine::IProgress, Engine::ICryptoGetTextPassword> {
public:
    OpenArchiveHandler(zorvik::rt::com_ptr<InputStreamAdapter> stream, zorvik::rt::com_ptr<IArchiveSource> source);

    // The archive stream, or the last volume delivered.
    zorvik::rt::com_ptr<InputStreamAdapter> CurrentStream() const { return currentStream_; }
    // Bytes of the archive stream plus every volume delivered since the last SetTotalSize.
    std::uint64_t TotalSize() const noexcept { return totalSize_; }
    void SetTotalSize(std::uint64_t size) noexcept { totalSize_ = size; }
    // The engine asked for another volume (never set in sub-archive mode).
    bool VolumeRequested() const noexcept { return volumeRequested_; }
    // Every volume the caller gave, by the name the engine asked for, so that the archive can be
    // opened again without asking the caller.
    using GivenVolume = std::pair<std::wstring, zorvik::rt::com_ptr<ABI::Windows::Storage::Streams::IRandomAccessStream>>;
    const std::vector<GivenVolume>& GivenVolumes() const noexcept { return givenVolumes_; }
    const std::optional<std::wstring>& CachedPassword() const noexcept { return cachedPassword_; }
    void ClearCachedPassword() noexcept { cachedPassword_.reset(); }
    // After the last "." of the sub-archive name in sub-archive mode, else the source's FileType
    // (raising the caller's failure).
    std::wstring ArchiveExtension() const;

    // IArchiveOpenCallback and IProgress: opening reports no progress.
    HRESULT SetTotal(const std::uint64_t* files, const std::uint64_t* bytes) override;
    HRESULT SetCompleted(const std::uint64_t* files, const std::uint64_t* bytes) override;
    HRESULT SetTotal(std::uint64_t total) override;
    HRESULT SetCompleted(const std::uint64_t* completeValue) override;

    // IArchiveOpenVolumeCallback
    HRESULT GetProperty(Engine::PROPID propID, PROPVARIANT* value) override;
    HRESULT GetStream(const wchar_t* name, Engine::IInStream** inStream) override;

    // IArchiveOpenSetSubArchiveName
    HRESULT SetSubArchiveName(const wchar_t* name) override;

    // ICryptoGetTextPassword: the caller is asked once until ClearCachedPassword.
    HRESULT CryptoGetTextPassword(BSTR* password) override;

private:
    zorvik::rt::com_ptr<InputStreamAdapter> currentStream_;
    zorvik::rt::com_ptr<IArchiveSource> source_;
    bool subArchiveMode_ = false;
    std::wstring subArchiveName_;
    bool volumeRequested_ = false;
    std::vector<GivenVolume> givenVolumes_;
    std::optional<std::wstring> cachedPassword_;
    std::uint64_t totalSize_ = 0;
};

}  // namespace Zorvik::Impl
