// The open callback of an archive opened again from its ArchiveOrigin: it answers what the
// first open's caller answered (the name, the password) and gives clones of the volumes the
// caller gave, never asking the caller anything. A volume the caller did not give then is not
// there now either.
#pragma once

#include "archive/ArchiveOrigin.h"
#include "base/ComponentObject.h"
#include "engine/InputStreamAdapter.h"

namespace Zorvik::Impl {

class ReopenCallback final : public ComponentObject<ReopenCallback, Engine::IArchiveOpenCallback, Engine::IArchiveOpenVolumeCallback,
                                                    Engine::IProgress, Engine::ICryptoGetTextPassword> {
public:
    // stream is the clone the archive is opened over.
    ReopenCallback(std::shared_ptr<const ArchiveOrigin> origin, zorvik::rt::com_ptr<InputStreamAdapter> stream);

    HRESULT SetTotal(const std::uint64_t* files, const std::uint64_t* bytes) override;
    HRESULT SetCompleted(const std::uint64_t* files, const std::uint64_t* bytes) override;
    HRESULT SetTotal(std::uint64_t total) override;
    HRESULT SetCompleted(const std::uint64_t* completeValue) override;

    HRESULT GetProperty(Engine::PROPID propID, PROPVARIANT* value) override;
    HRESULT GetStream(const wchar_t* name, Engine::IInStream** inStream) override;

    HRESULT CryptoGetTextPassword(BSTR* password) override;

private:
    const std::shared_ptr<const ArchiveOrigin> origin_;
    zorvik::rt::com_ptr<InputStreamAdapter> current_;
};

}  // namespace Zorvik::Impl
