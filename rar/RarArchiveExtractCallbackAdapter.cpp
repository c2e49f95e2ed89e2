#include "rar/RarArchiveExtractCallbackAdapter.h"

#include "rar/RarOpenArchiveCallbackAdapter.h"
#include "rar/ReaderOutputStream.h"
#include "zorvik/runtime/oleauto.h"

namespace Zorvik::Impl::RAR {

namespace {

constexpr std::int32_t kAskExtract = 0;

}  // namespace

UnRAR::HRESULT_t ArchiveExtractCallbackAdapter::GetStream(std::uint32_t index, std::shared_ptr<UnRAR::IOutputStream>& stream) {
    zorvik::rt::com_ptr<Engine::ISequentialOutStream> output;
    const HRESULT result = callback_->GetStream(index, output.put(), kAskExtract);
    if (result == S_OK && output) stream = std::make_shared<ReaderOutputStream>(std::move(output));
    return result;
}

bool ArchiveExtractCallbackAdapter::PrepareOperation() { return callback_->PrepareOperation(kAskExtract) == S_OK; }

bool ArchiveExtractCallbackAdapter::SetOperationResult(std::int32_t result) { return callback_->SetOperationResult(result) == S_OK; }

bool ArchiveExtractCallbackAdapter::SetTotal(std::uint64_t total) { return callback_->SetTotal(total) == S_OK; }

bool ArchiveExtractCallbackAdapter::SetCompleted(const std::uint64_t* completed) { return callback_->SetCompleted(completed) == S_OK; }

UnRAR::HRESULT_t ArchiveExtractCallbackAdapter::GetPassword(wchar_t* buffer) {
    const auto passwords = callback_.try_as<Engine::ICryptoGetTextPassword>();
    if (!passwords) return S_OK;
    zorvik::rt::bstr password;
    const HRESULT result = passwords->CryptoGetTextPassword(password.put());
    if (result == S_OK) CopyPassword(password.view(), buffer);
    return result == E_ABORT ? E_ABORT : S_OK;
}

}  // namespace Zorvik::Impl::RAR
