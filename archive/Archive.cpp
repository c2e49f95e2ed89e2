#include "archive/Archive.h"

#include "engine/EngineModule.h"
#include "engine/InOutTempBuffer.h"

namespace Zorvik {

namespace {
[[noreturn]] void NotYetAvailable() { throw zorvik::rt::not_implemented_error(); }
}  // namespace

zorvik::rt::com_ptr<Archive> Archive::Create() { return zorvik::rt::make<Archive>(); }

Archive::Archive() {
    // Every new Archive hands the engine the spill-storage factory again.
    Engine::EngineModule::Get().Init7zipLibForWS(&Engine::WSHelperObjectsFactory::Instance());
}

Archive::~Archive() { Dispose(); }

void Archive::Dispose() noexcept { disposed_ = true; }

HRESULT Archive::Close() {
    Dispose();
    return S_OK;
}

HRESULT Archive::get_CompressorDescription(ICompressorDescription**) { return Member(NotYetAvailable); }
HRESULT Archive::get_CompressionOptions(ICompressionOptions**) { return Member(NotYetAvailable); }
HRESULT Archive::put_CompressionOptions(ICompressionOptions*) { return Member(NotYetAvailable); }
HRESULT Archive::get_CanUpdate(bool*) { return Member(NotYetAvailable); }
HRESULT Archive::get_KeepsName(bool*) { return Member(NotYetAvailable); }
HRESULT Archive::get_HasItemNames(bool*) { return Member(NotYetAvailable); }
HRESULT Archive::get_FileCount(std::uint64_t*) { return Member(NotYetAvailable); }
HRESULT Archive::get_CompressionRatio(double*) { return Member(NotYetAvailable); }
HRESULT Archive::get_UnpackedSize(std::uint64_t*) { return Member(NotYetAvailable); }
HRESULT Archive::get_HasPassword(bool*) { return Member(NotYetAvailable); }
HRESULT Archive::get_CapabilityF(bool*) { return Member(NotYetAvailable); }
HRESULT Archive::CreateAsync(IRandomAccessStream*, IArchiveSource*, IAsyncOperation<bool>**) { return Member(NotYetAvailable); }
HRESULT Archive::OpenAsync(IRandomAccessStream*, IArchiveSource*, IAsyncOperation<bool>**) { return Member(NotYetAvailable); }
HRESULT Archive::GetRootFolderAsync(IOperationProgress*, IAsyncOperation<IArchiveFolder*>**) { return Member(NotYetAvailable); }
HRESULT Archive::ExtractAsync(std::uint32_t, IArchiveItem**, IExtractionCallback*, IAsyncOperation<bool>**) {
    return Member(NotYetAvailable);
}
HRESULT Archive::UpdateAsync(std::uint32_t, IArchiveItem**, std::uint32_t, IArchiveAddable**, IUpdateCallback*, IRandomAccessStream*,
                             IAsyncOperation<UpdateResult>**) {
    return Member(NotYetAvailable);
}
HRESULT Archive::RemoveAsync(std::uint32_t, IArchiveItem**, IUpdateCallback*, IRandomAccessStream*, IAsyncOperation<UpdateResult>**) {
    return Member(NotYetAvailable);
}
HRESULT Archive::AddAsync(std::uint32_t, IArchiveAddable**, IUpdateCallback*, IRandomAccessStream*, IAsyncOperation<UpdateResult>**) {
    return Member(NotYetAvailable);
}
HRESULT Archive::RenameAsync(IArchiveItem*, HSTRING, IUpdateCallback*, IRandomAccessStream*, IAsyncOperation<UpdateResult>**) {
    return Member(NotYetAvailable);
}
HRESULT Archive::MoveAsync(std::uint32_t, IArchiveItem**, IArchiveFolder*, IUpdateCallback*, IRandomAccessStream*,
                           IAsyncOperation<UpdateResult>**) {
    return Member(NotYetAvailable);
}
HRESULT Archive::CloseAsync(IAsyncOperation<bool>**) { return Member(NotYetAvailable); }

}  // namespace Zorvik
