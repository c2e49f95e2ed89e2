// The component's public ABI: the formats the archive engine offers.
#pragma once

#include "zorvik/runtime/collections_abi.h"

namespace Zorvik {

// Default interface of ArchiveFormat.
struct IArchiveFormat : IInspectable {
    static constexpr GUID iid{0x72D68FB3, 0xB90F, 0x3F72, {0x88, 0x36, 0xE7, 0x58, 0xEF, 0xBD, 0x32, 0x9E}};
    static constexpr const char* name = "Zorvik.IArchiveFormat";
    virtual HRESULT get_Name(HSTRING* value) = 0;
    virtual HRESULT get_DefaultExtension(HSTRING* value) = 0;
    virtual HRESULT get_CanUpdate(bool* value) = 0;
    virtual HRESULT get_KeepsName(bool* value) = 0;
    virtual HRESULT HasExtension(HSTRING extension, bool* result) = 0;  // case-insensitive
};

// Statics of ArchiveInfo, the default interface of its activation factory.
struct __IArchiveInfoStatics : IInspectable {
    static constexpr GUID iid{0x352F9E2C, 0x69BF, 0x3F06, {0x83, 0xB9, 0xBC, 0x1D, 0x1D, 0x96, 0x0D, 0x59}};
    static constexpr const char* name = "Zorvik.__IArchiveInfoStatics";
    // A new vector with one ArchiveFormat per engine format, in probing order.
    virtual HRESULT get_Formats(ABI::Windows::Foundation::Collections::IVector<IArchiveFormat*>** formats) = 0;
};

}  // namespace Zorvik
