#include "archive/RootFolder.h"

#include <mutex>

#include "archive/Archive.h"
#include "archive/EngineReference.h"
#include "archive/EntryNaming.h"
#include "model/ArchiveEntryProperties.h"
#include "model/ArchiveFolder.h"
#include "model/TreeBuilder.h"

namespace Zorvik::Impl {

using zorvik::rt::com_ptr;

namespace {

// Ends a build: whoever waits for it may take the tree, unless a close dropped it meanwhile
// (the close itself wakes them then).
class BuildCompletion {
public:
    BuildCompletion(Archive& archive, IArchiveFolder* root) : archive_(archive), root_(root) {}
    BuildCompletion(const BuildCompletion&) = delete;
    BuildCompletion& operator=(const BuildCompletion&) = delete;
    ~BuildCompletion() {
        std::lock_guard lock(archive_.Lock);
        if (archive_.RootFolder.get() == root_) archive_.RootFolderBuilding = false;
        archive_.RootFolderBuilt.notify_all();
    }

private:
    Archive& archive_;
    IArchiveFolder* root_;  // compared only
};

// Reads the entries of the archive's handler, each under the archive's lock so that a close
// cannot pull the handler away mid-read; raises E_ILLEGAL_METHOD_CALL once it was closed.
EntryReader ReaderOf(Archive& archive, Engine::IInArchive* handler) {
    return [&archive, handler](std::uint32_t index, TextArena& text, EntryProperties& properties) {
        std::lock_guard lock(archive.Lock);
        if (archive.InArchive.get() != handler) throw zorvik::rt::illegal_method_call_error();
        properties = ReadEntryProperties(handler, index, text);
        if (!properties.Path.empty()) return true;
        // Single-stream formats name their only entry after the archive file (or the entry the
        // archive was found in), and so does every other format an entry without a name (data
        // stored from a pipe, say).
        const std::wstring& named = archive.NestedInName.empty() ? archive.ArchiveName : archive.NestedInName;
        std::wstring madeName = NameForNamelessEntry(named, archive.Format.get());
        if (madeName.empty()) madeName = named;
        if (madeName.empty()) return false;  // no name to give it
        properties.Path = text.Store(madeName);
        return true;
    };
}

}  // namespace

com_ptr<IArchiveFolder> GetRootFolder(Archive& archive, IOperationProgress* progress, const zorvik::rt::cancellation_token& cancellation) {
    com_ptr<IOperationProgress> reporter;
    for (;;) {
        {
            std::unique_lock lock(archive.Lock);
            archive.RootFolderBuilt.wait(lock, [&] { return !archive.RootFolderBuilding; });
            if (archive.RootFolder) return archive.RootFolder;
        }
        const EngineReference handler(archive);
        std::uint32_t count = 0;
        zorvik::rt::check_hresult(handler->GetNumberOfItems(&count));
        if (progress && !reporter) reporter = com_ptr<IOperationProgress>::copy_from(progress).as<IOperationProgress>();
        if (reporter) ReportEntryCount(*reporter, count);

        auto tree = std::make_shared<PackedTree>();
        com_ptr<ArchiveFolder> root;
        {
            std::unique_lock lock(archive.Lock);
            archive.RootFolderBuilt.wait(lock, [&] { return !archive.RootFolderBuilding; });
            if (archive.RootFolder) return archive.RootFolder;       // another build got there first
            if (archive.InArchive.get() != handler.get()) continue;  // closed or reopened meanwhile
            root = tree->Folder(PackedTree::kRoot);
            archive.RootFolder = root;
            if (archive.IsNew) return root;  // a created archive has no entries yet
            archive.RootFolderBuilding = true;
        }
        BuildCompletion completion(archive, root.get());
        TreeBuilder(*tree, ReaderOf(archive, handler.get()), reporter).AddEntries(count, cancellation);
        return root;
    }
}

}  // namespace Zorvik::Impl
