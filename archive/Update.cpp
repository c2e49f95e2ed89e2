#include "archive/Update.h"

#include "archive/Archive.h"
#include "archive/ConflictCheck.h"
#include "archive/EngineOutcome.h"
#include "archive/EngineReference.h"
#include "archive/HeldFileLock.h"
#include "archive/OutputStreamAdapter.h"
#include "archive/PasswordCheck.h"
#include "archive/RootFolder.h"
#include "archive/SequentialOutput.h"
#include "archive/TreeWalk.h"
#include "archive/UpdateArchiveHandler.h"
#include "archive/UpdatePlan.h"
#include "archive/VolumeOutStream.h"
#include "model/CompressionProperties.h"
#include "zorvik/Edit.h"
#include "zorvik/VolumeUpdate.h"

namespace Zorvik::Impl {

using zorvik::rt::cancellation_token;
using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;
using zorvik::rt::hstring;

namespace {

// A handler that never opened an archive counts its items as this.
constexpr std::uint32_t kUnknownItemCount = 0xFFFFFFFF;

// Ends an update as failed, told with its reason to a callback that asks for it.
UpdateResult Failed(IUpdateCallback& callback, HRESULT reason, std::wstring_view message) {
    if (const auto report = com_ptr<IUpdateCallback>::copy_from(&callback).try_as<IUpdateFailureReport>())
        report->ReportFailure(reason, hstring(message).get());  // its own failure changes nothing
    return UpdateResult::Failure;
}

// Why this update may not write, or nothing when something is open that it may.
std::optional<UpdateResult> Unwritable(const Archive::Snapshot& state, IUpdateCallback& callback) {
    if (!state.IsOpen || !state.FileLock) return Failed(callback, E_ILLEGAL_METHOD_CALL, L"no archive is open");
    if (!state.MayBeWrittenBack)
        return Failed(callback, E_NOTIMPL,
                      L"an archive of this kind (a volume set, an archive inside another, or a read-only format) cannot be written");
    return std::nullopt;
}

void SetItemCount(IUpdateCallback& callback, std::size_t count) {
    check_hresult(com_ptr<IUpdateCallback>::copy_from(&callback).as<IOperationProgress>()->SetItemCount(static_cast<std::uint32_t>(count)));
}

// The options ask the format to hide the names.
bool HidesNames(const Archive::Snapshot& state) {
    bool supported = false, asked = false;
    if (state.Compressor) check_hresult(state.Compressor->get_SupportsHeaderEncryption(&supported));
    if (supported && state.Options) check_hresult(state.Options->get_EncryptHeaders(&asked));
    return supported && asked;
}

// A new archive has none, whatever its handler says: single-stream handlers count one entry
// before anything is open.
std::uint32_t EntryCount(const Archive::Snapshot& state, Engine::IInArchive* engine) {
    if (state.IsNew) return 0;
    std::uint32_t count = 0;
    check_hresult(engine->GetNumberOfItems(&count));
    return count == kUnknownItemCount ? 0 : count;
}

// Entries of another tree (of an earlier archive on this object) may name indices this handler
// does not have; the engine would read past its tables.
void CheckIndices(const RemovalSet& removal, const UpdatePlan& plan, std::uint32_t count) {
    const bool outside = (!removal.empty() && *removal.rbegin() >= count) || std::any_of(plan.begin(), plan.end(), [&](const auto& item) {
                             return item->IndexInArchive() != kNewItem && item->IndexInArchive() >= count;
                         });
    if (outside) throw zorvik::rt::invalid_argument_error("an item of another archive");
}

// The operation's result from the engine's and from the delivery of the archive's tail: a loss
// the engine never saw ends the operation with its error.
UpdateResult Outcome(HRESULT result, HRESULT delivery, IUpdateCallback& callback) {
    if (SUCCEEDED(result) && FAILED(delivery)) zorvik::rt::throw_hresult(delivery);
    if (EngineSucceeded(result)) return UpdateResult::Success;
    // S_FALSE is a read of the open archive that failed.
    if (result == S_FALSE) return Failed(callback, E_FAIL, L"the archive could not be read while its entries were copied");
    return Failed(callback, result, L"the engine could not write the archive");
}

// Further volumes, asked of the caller one at a time. A cancel of the operation stops the asking.
VolumeOutStream::VolumeSource VolumeRequests(const com_ptr<IUpdateCallback>& callback, const cancellation_token& cancellation) {
    return [callback, cancellation](std::uint32_t number) -> VolumeOutStream::Stream {
        cancellation.check();
        std::int32_t answer = VolumeAnswer::NoMore;
        com_ptr<IRandomAccessStream> volume;
        check_hresult(callback.as<IUpdateVolumeProvider>()->GetVolume(number, &answer, volume.put()));
        if (answer == VolumeAnswer::Cancel) throw zorvik::rt::canceled_error();
        if (answer != VolumeAnswer::Use) return nullptr;
        if (!volume) throw zorvik::rt::invalid_argument_error("a volume to use without a stream");
        return volume;
    };
}

// The engine run: entries not in removal are copied unchanged, then the plan items follow.
UpdateResult WriteArchive(Archive& archive, const Archive::Snapshot& state, const UpdatePlan& plan, RemovalSet& removal,
                          const com_ptr<IUpdateCallback>& callback, const UpdateDestination& destination,
                          const cancellation_token& cancellation) {
    if (removal.empty() && plan.empty()) return UpdateResult::NothingToUpdate;
    const HeldFileLock fileLock(state.FileLock);
    const EngineReference engine(archive, state);
    Engine::IOutArchive* const writer = engine.As<Engine::IOutArchive>();
    if (!writer) return Failed(*callback, E_NOTIMPL, L"the format cannot write archives");

    const std::uint32_t count = EntryCount(state, engine.get());
    ExtendCopySet(plan, removal);
    CheckIndices(removal, plan, count);
    // Entries without a path are copied too: leaving them out would lose them without anyone
    // having asked for it.
    std::vector<std::uint32_t> kept;
    for (std::uint32_t index = 0; index < count; ++index)
        if (!removal.count(index)) kept.push_back(index);

    // New data beside encrypted entries takes their password, proven on one of them first; one
    // the archive was opened with proved itself then.
    std::optional<std::wstring> password = state.Password;
    const bool writesData = std::any_of(plan.begin(), plan.end(), [](const auto& item) { return item->HasNewData(); });
    if (!password && writesData)
        if (const auto encrypted = EncryptedEntry(engine.get(), kept))
            password = ProvenPassword(engine.get(), *encrypted, *callback, cancellation);

    ApplyCompressionOptions(state.Compressor.get(), state.Options.get(), state.FormatName, engine.As<Engine::ISetProperties>());
    // The handler goes before the output, whose release hands over what it still holds.
    const bool sequential = static_cast<bool>(destination.stream.try_as<ISequentialDestination>());
    const auto run = [&](Engine::ISequentialOutStream* output) {
        const auto handler = zorvik::rt::make<UpdateArchiveHandler>(callback, kept, plan, password, HidesNames(state), engine.get());
        handler->StopWhenCanceled(cancellation);
        const std::size_t itemCount = kept.size() + plan.size();
        SetItemCount(*callback, itemCount);
        const HRESULT result =
            writer->UpdateItems(output, static_cast<std::uint32_t>(itemCount), static_cast<Engine::IArchiveUpdateCallback*>(handler.get()));
        // Some writers pass on the refused query for a seekable stream (wim) instead of saying that
        // they cannot write into this one.
        return sequential && result == E_NOINTERFACE ? E_NOTIMPL : result;
    };
    if (destination.volumeSize == 0) {
        const auto output = zorvik::rt::make<OutputStreamAdapter>(destination.stream);
        com_ptr<Engine::ISequentialOutStream> engineOutput = output;
        if (sequential) engineOutput = zorvik::rt::make<SequentialOutput>(output);
        const HRESULT result = run(engineOutput.get());
        return Outcome(result, output->Finish(), *callback);
    }

    const auto output =
        zorvik::rt::make<VolumeOutStream>(destination.volumeSize, destination.stream, VolumeRequests(callback, cancellation));
    const HRESULT result = run(output.get());
    const HRESULT delivery = output->Finish();
    // The caller's answer, or its failure, ends the operation as from any other of its members.
    check_hresult(output->RequestFailure());
    const UpdateResult outcome = Outcome(result, delivery, *callback);
    if (outcome == UpdateResult::Success) check_hresult(callback.as<IUpdateVolumeProvider>()->SetVolumeCount(output->VolumeCount()));
    return outcome;
}

// The conflict check against the archive's tree (root) and the plan itself, then the engine run.
UpdateResult CheckAndWrite(Archive& archive, const Archive::Snapshot& state, IArchiveFolder* root, UpdatePlan& plan, RemovalSet& removal,
                           const com_ptr<IUpdateCallback>& callback, const UpdateDestination& destination,
                           const cancellation_token& cancellation, const RemovalSet& vacating = {}) {
    if (const auto unresolved = CheckConflicts(root, plan, removal, *callback, cancellation, vacating))
        return Failed(*callback, HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), L"no free name is left for " + *unresolved);
    return WriteArchive(archive, state, plan, removal, callback, destination, cancellation);
}

// The entries a plan rewrites; E_INVALIDARG for one that another edit (or removal) changes too.
void ClaimEntries(const UpdatePlan& plan, const RemovalSet& removal, RemovalSet& claimed) {
    for (const auto& item : plan)
        if (removal.count(item->IndexInArchive()) || !claimed.insert(item->IndexInArchive()).second)
            throw zorvik::rt::invalid_argument_error("an entry is changed twice in one edit");
}

}  // namespace

UpdateResult Update(Archive& archive, const std::vector<com_ptr<IArchiveItem>>& remove, const std::vector<com_ptr<IArchiveAddable>>& add,
                    const com_ptr<IUpdateCallback>& callback, const UpdateDestination& destination,
                    const cancellation_token& cancellation) {
    SetItemCount(*callback, add.size());
    if (remove.empty() && add.empty()) return UpdateResult::NothingToUpdate;
    const Archive::Snapshot state = archive.State();
    if (const auto failed = Unwritable(state, *callback)) return *failed;
    // The items to remove must be of the tree the archive shows now.
    const auto root = GetRootFolder(archive, nullptr, cancellation);
    RemovalSet removal;
    PlanRemove(remove, removal, TreeOf(root.get()));
    UpdatePlan plan = PlanAdd(add);
    if (removal.empty() && plan.empty()) return UpdateResult::NothingToUpdate;
    return CheckAndWrite(archive, state, root.get(), plan, removal, callback, destination, cancellation);
}

UpdateResult Rename(Archive& archive, const com_ptr<IArchiveItem>& item, std::wstring_view newName,
                    const com_ptr<IUpdateCallback>& callback, const com_ptr<IRandomAccessStream>& destination,
                    const cancellation_token& cancellation) {
    const Archive::Snapshot state = archive.State();
    if (const auto failed = Unwritable(state, *callback)) return *failed;
    const auto root = GetRootFolder(archive, nullptr, cancellation);
    UpdatePlan plan = PlanRename(item, newName, TreeOf(root.get()));
    if (plan.empty()) return Failed(*callback, E_INVALIDARG, L"the root folder has no name to change");
    SetItemCount(*callback, plan.size());
    RemovalSet removal;
    return CheckAndWrite(archive, state, root.get(), plan, removal, callback, {destination}, cancellation);
}

UpdateResult Move(Archive& archive, const std::vector<com_ptr<IArchiveItem>>& items, com_ptr<IArchiveFolder> target,
                  const com_ptr<IUpdateCallback>& callback, const com_ptr<IRandomAccessStream>& destination,
                  const cancellation_token& cancellation) {
    const Archive::Snapshot state = archive.State();
    if (const auto failed = Unwritable(state, *callback)) return *failed;
    const auto root = GetRootFolder(archive, nullptr, cancellation);
    if (!target) target = root;
    UpdatePlan plan = PlanMove(items, target.get(), TreeOf(root.get()));
    if (plan.empty()) return UpdateResult::NothingToUpdate;
    SetItemCount(*callback, plan.size());
    RemovalSet removal;
    return CheckAndWrite(archive, state, root.get(), plan, removal, callback, {destination}, cancellation);
}

UpdateResult Edit(Archive& archive, const Edits& edits, const com_ptr<IUpdateCallback>& callback,
                  const com_ptr<IRandomAccessStream>& destination, const cancellation_token& cancellation) {
    if (edits.remove.empty() && edits.rename.empty() && edits.move.empty() && edits.add.empty()) return UpdateResult::NothingToUpdate;
    const Archive::Snapshot state = archive.State();
    if (const auto failed = Unwritable(state, *callback)) return *failed;
    const auto root = GetRootFolder(archive, nullptr, cancellation);
    const PackedTree* const tree = TreeOf(root.get());
    RemovalSet removal;
    PlanRemove(edits.remove, removal, tree);
    // Renamed and moved entries leave their old paths, which new items and each other may take.
    UpdatePlan plan;
    RemovalSet vacating;
    const auto take = [&](UpdatePlan part) {
        ClaimEntries(part, removal, vacating);
        plan.insert(plan.end(), part.begin(), part.end());
    };
    for (const auto& [item, newName] : edits.rename) {
        UpdatePlan renamed = PlanRename(item, newName, tree);
        if (renamed.empty()) return Failed(*callback, E_INVALIDARG, L"the root folder has no name to change");
        take(std::move(renamed));
    }
    for (const auto& [item, target] : edits.move) take(PlanMove({item}, target ? target.get() : root.get(), tree));
    UpdatePlan added = PlanAdd(edits.add);
    plan.insert(plan.end(), added.begin(), added.end());
    if (removal.empty() && plan.empty()) return UpdateResult::NothingToUpdate;
    SetItemCount(*callback, plan.size());
    return CheckAndWrite(archive, state, root.get(), plan, removal, callback, {destination}, cancellation, vacating);
}

}  // namespace Zorvik::Impl
