// The engine's update callback: tells the engine, item by item, whether it copies an entry of the
// open archive unchanged or writes a plan item, answers the plan items' properties and data, and
// passes progress and the password request to the caller's IUpdateCallback.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "archive/CallerProgress.h"
#include "archive/UpdatePlan.h"
#include "base/ComponentObject.h"
#include "engine/EngineInterfaces.h"
#include "zorvik/runtime/async.h"

namespace Zorvik::Impl {

class UpdateArchiveHandler final
    : public ComponentObject<UpdateArchiveHandler, Engine::IArchiveUpdateCallback2, Engine::ICryptoGetTextPassword2,
                             Engine::ICryptoGetTextPassword, Engine::ICompressProgressInfo> {
public:
    // Engine items 0 to K-1 are the kept entries, K onwards the plan items; both outlive the
    // handler. openArchive (may be null) is the handler the kept entries come from: an entry that
    // gets a new path keeps its other properties (attributes, owner, times) from there.
    // archivePassword is given unasked for new data, and for the names too when hidesNames.
    UpdateArchiveHandler(zorvik::rt::com_ptr<IUpdateCallback> callback, const std::vector<std::uint32_t>& kept, const UpdatePlan& plan,
                         std::optional<std::wstring> archivePassword, bool hidesNames, Engine::IInArchive* openArchive);

    // A cancel of the operation reaches the engine as the caller's cancel answer would.
    void StopWhenCanceled(zorvik::rt::cancellation_token cancellation) { cancellation_ = std::move(cancellation); }

    // IProgress
    HRESULT SetTotal(std::uint64_t total) override;
    HRESULT SetCompleted(const std::uint64_t* completeValue) override;
    // IArchiveUpdateCallback
    HRESULT GetUpdateItemInfo(std::uint32_t index, std::int32_t* newData, std::int32_t* newProps, std::uint32_t* indexInArchive) override;
    HRESULT GetProperty(std::uint32_t index, Engine::PROPID propID, PROPVARIANT* value) override;
    HRESULT GetStream(std::uint32_t index, Engine::ISequentialInStream** inStream) override;
    HRESULT SetOperationResult(std::int32_t operationResult) override;
    // IArchiveUpdateCallback2
    HRESULT GetVolumeSize(std::uint32_t index, std::uint64_t* size) override;
    HRESULT GetVolumeStream(std::uint32_t index, Engine::ISequentialOutStream** volumeStream) override;
    // ICryptoGetTextPassword2, ICryptoGetTextPassword
    HRESULT CryptoGetTextPassword2(std::int32_t* passwordIsDefined, BSTR* password) override;
    HRESULT CryptoGetTextPassword(BSTR* password) override;
    // ICompressProgressInfo
    HRESULT SetRatioInfo(const std::uint64_t* inSize, const std::uint64_t* outSize) override;

private:
    // The plan item of engine item index; null for a kept entry or an index past the plan.
    const IUpdateItem* PlanItem(std::uint32_t index) const noexcept;
    HRESULT ReportProgress(ProgressMember member, std::uint64_t value);
    bool Canceled() const noexcept { return cancellation_ && cancellation_->canceled(); }

    zorvik::rt::com_ptr<IUpdateCallback> callback_;
    const std::vector<std::uint32_t>& kept_;
    const UpdatePlan& plan_;
    bool passwordAsked_ = false;
    std::wstring password_;
    bool passwordDefined_ = false;
    const std::optional<std::wstring> archivePassword_;
    const bool hidesNames_;
    Engine::IInArchive* const openArchive_;
    std::optional<zorvik::rt::cancellation_token> cancellation_;
};

}  // namespace Zorvik::Impl
