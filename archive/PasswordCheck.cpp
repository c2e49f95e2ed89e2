#include "archive/PasswordCheck.h"

#include "base/ComponentObject.h"
#include "zorvik/runtime/oleauto.h"

namespace Zorvik::Impl {

using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;

namespace {

// The engine's test mode: every entry decoded and checked, nothing written.
constexpr std::int32_t kTestMode = 1;

// Extracts in test mode with one password, and keeps the entry's result.
class PasswordProbe final : public ComponentObject<PasswordProbe, Engine::IArchiveExtractCallback, Engine::ICryptoGetTextPassword> {
public:
    PasswordProbe(std::wstring password, zorvik::rt::cancellation_token cancellation)
        : password_(std::move(password)), cancellation_(std::move(cancellation)) {}

    std::int32_t Result() const noexcept { return result_; }

    HRESULT SetTotal(std::uint64_t) override { return Checked(); }
    HRESULT SetCompleted(const std::uint64_t*) override { return Checked(); }
    HRESULT GetStream(std::uint32_t, Engine::ISequentialOutStream** outStream, std::int32_t) override {
        if (!outStream) return E_POINTER;
        *outStream = nullptr;  // decoded and checked only
        return Checked();
    }
    HRESULT PrepareOperation(std::int32_t) override { return S_OK; }
    HRESULT SetOperationResult(std::int32_t result) override {
        result_ = result;
        return S_OK;
    }
    HRESULT CryptoGetTextPassword(BSTR* password) override {
        if (!password) return E_POINTER;
        *password = SysAllocStringLen(password_.data(), static_cast<UINT>(password_.size()));
        return *password ? S_OK : E_OUTOFMEMORY;
    }

private:
    HRESULT Checked() const noexcept { return cancellation_.canceled() ? E_ABORT : S_OK; }

    const std::wstring password_;
    const zorvik::rt::cancellation_token cancellation_;
    std::int32_t result_ = Engine::kOpResultDataError;  // no result heard is no success
};

bool IsTrue(const zorvik::rt::prop_variant& value) {
    if (const auto flag = value.as_bool()) return *flag;
    return value.as_uint64().value_or(0) != 0;
}

}  // namespace

std::optional<std::uint32_t> EncryptedEntry(Engine::IInArchive* handler, const std::vector<std::uint32_t>& kept) {
    std::optional<std::uint32_t> smallest;
    std::uint64_t smallestSize = 0;
    for (const std::uint32_t index : kept) {
        zorvik::rt::prop_variant encrypted, folder, size;
        handler->GetProperty(index, Engine::kpidEncrypted, encrypted.put());
        if (!IsTrue(encrypted)) continue;
        handler->GetProperty(index, Engine::kpidIsDir, folder.put());
        if (IsTrue(folder)) continue;
        handler->GetProperty(index, Engine::kpidSize, size.put());
        const std::uint64_t bytes = size.as_uint64().value_or(0);
        if (!smallest || bytes < smallestSize) {
            smallest = index;
            smallestSize = bytes;
        }
    }
    return smallest;
}

std::wstring ProvenPassword(Engine::IInArchive* handler, std::uint32_t entry, IUpdateCallback& callback,
                            const zorvik::rt::cancellation_token& cancellation) {
    zorvik::rt::hstring given;
    std::int32_t answer = UpdatePasswordAnswer::NoPassword;
    check_hresult(com_ptr<IUpdateCallback>::copy_from(&callback).as<IUpdatePasswordProvider>()->GetPassword(given.put(), &answer));
    if (answer == UpdatePasswordAnswer::Cancel) throw zorvik::rt::canceled_error();
    if (answer == UpdatePasswordAnswer::NoPassword) zorvik::rt::throw_hresult(kWrongPassword);
    if (answer != UpdatePasswordAnswer::Use) zorvik::rt::throw_hresult(E_FAIL);

    const auto probe = zorvik::rt::make<PasswordProbe>(std::wstring(given.view()), cancellation);
    const HRESULT result = handler->Extract(&entry, 1, kTestMode, static_cast<Engine::IArchiveExtractCallback*>(probe.get()));
    if (result == E_ABORT) throw zorvik::rt::canceled_error();
    check_hresult(result);
    if (probe->Result() != Engine::kOpResultOk) zorvik::rt::throw_hresult(kWrongPassword);
    return std::wstring(given.view());
}

}  // namespace Zorvik::Impl
