// The CompressionOptions runtime class: the choices an update writes with.
#pragma once

#include <atomic>

#include "base/ComponentObject.h"
#include "zorvik/Compression.h"

namespace Zorvik {

// Values may be read by an update's worker thread while a caller sets them, hence atomics;
// each member is read on its own, as callers read them through the interface.
class CompressionOptions final : public Impl::ComponentObject<CompressionOptions, ICompressionOptions> {
public:
    static constexpr const char* runtime_class_name = "Zorvik.CompressionOptions";
    static constexpr const char* FactoryName = "Zorvik.__CompressionOptionsActivationFactory";

    // The three switches start false; -1 in method or cipher means none is chosen.
    CompressionOptions(CompressionMethod method, CompressionLevel level, EncryptionMethod cipher) noexcept;

    // A new instance holding the values of any implementation, read through its getters in
    // slot order; raises what a getter fails with.
    static zorvik::rt::com_ptr<CompressionOptions> CopyOf(ICompressionOptions* source);

    HRESULT get_CompressionMethod(CompressionMethod* value) override;
    HRESULT put_CompressionMethod(CompressionMethod value) override;
    HRESULT get_CompressionLevel(CompressionLevel* value) override;
    HRESULT put_CompressionLevel(CompressionLevel value) override;
    HRESULT get_EncryptionMethod(EncryptionMethod* value) override;
    HRESULT put_EncryptionMethod(EncryptionMethod value) override;
    HRESULT get_UseEncryption(bool* value) override;
    HRESULT put_UseEncryption(bool value) override;
    HRESULT get_EncryptHeaders(bool* value) override;
    HRESULT put_EncryptHeaders(bool value) override;
    HRESULT get_IsSolid(bool* value) override;
    HRESULT put_IsSolid(bool value) override;

private:
    std::atomic<CompressionMethod> method_;
    std::atomic<CompressionLevel> level_;
    std::atomic<EncryptionMethod> cipher_;
    std::atomic<bool> useEncryption_{false};
    std::atomic<bool> encryptHeaders_{false};
    std::atomic<bool> isSolid_{false};
};

}  // namespace Zorvik
