#include "model/CompressionOptions.h"

#include "base/OutParameters.h"

namespace Zorvik {

namespace {
template <typename T>
HRESULT Read(const std::atomic<T>& field, T* value) noexcept {
    return Impl::GiveValue(field.load(), value);
}

// Reads one member of another implementation, raising its failure.
template <typename T>
T Get(ICompressionOptions* source, HRESULT (ICompressionOptions::*getter)(T*)) {
    T value{};
    zorvik::rt::check_hresult((source->*getter)(&value));
    return value;
}
}  // namespace

CompressionOptions::CompressionOptions(CompressionMethod method, CompressionLevel level, EncryptionMethod cipher) noexcept
    : method_(method), level_(level), cipher_(cipher) {}

zorvik::rt::com_ptr<CompressionOptions> CompressionOptions::CopyOf(ICompressionOptions* source) {
    zorvik::rt::check_pointer(source);
    const auto method = Get(source, &ICompressionOptions::get_CompressionMethod);
    const auto level = Get(source, &ICompressionOptions::get_CompressionLevel);
    const auto cipher = Get(source, &ICompressionOptions::get_EncryptionMethod);
    const bool useEncryption = Get(source, &ICompressionOptions::get_UseEncryption);
    const bool encryptHeaders = Get(source, &ICompressionOptions::get_EncryptHeaders);
    const bool isSolid = Get(source, &ICompressionOptions::get_IsSolid);
    auto copy = zorvik::rt::make<CompressionOptions>(method, level, cipher);
    copy->useEncryption_ = useEncryption;
    copy->encryptHeaders_ = encryptHeaders;
    copy->isSolid_ = isSolid;
    return copy;
}

HRESULT CompressionOptions::get_CompressionMethod(CompressionMethod* value) { return Read(method_, value); }
HRESULT CompressionOptions::put_CompressionMethod(CompressionMethod value) {
    method_ = value;
    return S_OK;
}
HRESULT CompressionOptions::get_CompressionLevel(CompressionLevel* value) { return Read(level_, value); }
HRESULT CompressionOptions::put_CompressionLevel(CompressionLevel value) {
    level_ = value;
    return S_OK;
}
HRESULT CompressionOptions::get_EncryptionMethod(EncryptionMethod* value) { return Read(cipher_, value); }
HRESULT CompressionOptions::put_EncryptionMethod(EncryptionMethod value) {
    cipher_ = value;
    return S_OK;
}
HRESULT CompressionOptions::get_UseEncryption(bool* value) { return Read(useEncryption_, value); }
HRESULT CompressionOptions::put_UseEncryption(bool value) {
    useEncryption_ = value;
    return S_OK;
}
HRESULT CompressionOptions::get_EncryptHeaders(bool* value) { return Read(encryptHeaders_, value); }
HRESULT CompressionOptions::put_EncryptHeaders(bool value) {
    encryptHeaders_ = value;
    return S_OK;
}
HRESULT CompressionOptions::get_IsSolid(bool* value) { return Read(isSolid_, value); }
HRESULT CompressionOptions::put_IsSolid(bool value) {
    isSolid_ = value;
    return S_OK;
}

}  // namespace Zorvik
