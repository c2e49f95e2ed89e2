// The component's public ABI for extraction: the interfaces a caller implements to receive the
// entries that Archive::ExtractAsync decodes. One callback object implements IExtractionCallback,
// IExtractionPasswordProvider and IOperationProgress.
#pragma once

#include "zorvik/Archive.h"
#include "zorvik/Items.h"

namespace Zorvik {

// Answers of the extraction callback's members.
namespace ExtractionAnswer {
inline constexpr std::int32_t Continue = 0;
inline constexpr std::int32_t Cancel = 1;
inline constexpr std::int32_t Skip = 2;        // GetFileStream: any value but 0 and 1 skips
inline constexpr std::int32_t NoPassword = 2;  // GetPassword
inline constexpr std::int32_t Retry = 3;       // ItemFailed
}  // namespace ExtractionAnswer

// Why an entry failed, as ItemFailed reports it.
namespace ExtractionFailure {
inline constexpr std::int32_t Other = 0;
inline constexpr std::int32_t Encrypted = 1;  // any failure of an encrypted entry
inline constexpr std::int32_t UnsupportedMethod = 2;
inline constexpr std::int32_t DataCheck = 3;  // CRC error
}  // namespace ExtractionFailure

struct IExtractionCallback : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IExtractionCallback");
    static constexpr const char* name = "Zorvik.IExtractionCallback";
    // path is relative to the parent of the item the caller chose, joined with "/".
    // Answer 0 extracts into *stream (null skips), 1 cancels, anything else skips.
    virtual HRESULT GetFileStream(IArchiveItem* item, HSTRING path, IRandomAccessStream** stream, std::int32_t* answer) = 0;
    // The component writes nothing for folders; the answer is ignored.
    virtual HRESULT CreateFolder(IArchiveItem* item, HSTRING path, std::int32_t* answer) = 0;
    virtual HRESULT ItemCompleted(IArchiveItem* item, bool succeeded) = 0;
    // kind: an ExtractionFailure value. Answer 1 cancels, 3 retries the entry, anything else goes on.
    virtual HRESULT ItemFailed(IArchiveItem* item, std::int32_t kind, std::int32_t* answer) = 0;
};

struct IExtractionPasswordProvider : IInspectable {
    static constexpr GUID iid{0x69A82097, 0xA4EA, 0x3E7C, {0xBA, 0x0E, 0x6D, 0xC4, 0x7F, 0x21, 0xAF, 0x7E}};
    static constexpr const char* name = "Zorvik.IExtractionPasswordProvider";
    // item is null when no entry is known yet. Answer 0 uses *password, 1 cancels, 2 declines.
    virtual HRESULT GetPassword(IArchiveItem* item, HSTRING* password, std::int32_t* answer) = 0;
};

}  // namespace Zorvik
