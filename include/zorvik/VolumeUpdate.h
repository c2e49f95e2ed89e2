// Writing an archive in volumes: the new archive of an update cut into volumes of one size (the
// last may be shorter), the first written into the update's destination and each further one
// into a stream the caller gives when the component asks for it. Joined end to end the volumes
// are the archive; readers open such a set from its first volume, as the volumes of 7zz -v.
// The Archive runtime class implements IVolumeUpdate beside IArchive; callers ask for it with
// QueryInterface. The update callback object then also implements IUpdateVolumeProvider.
#pragma once

#include "zorvik/Update.h"

namespace Zorvik {

// Answers of IUpdateVolumeProvider::GetVolume.
namespace VolumeAnswer {
inline constexpr std::int32_t Use = 0;     // the stream given is the volume
inline constexpr std::int32_t Cancel = 1;  // the update ends as cancelled
inline constexpr std::int32_t NoMore = 2;  // any value not listed: there is no further volume, and the update fails
}  // namespace VolumeAnswer

// Implemented by the caller on its IUpdateCallback object, for an update written in volumes.
struct IUpdateVolumeProvider : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IUpdateVolumeProvider");
    static constexpr const char* name = "Zorvik.IUpdateVolumeProvider";
    // The stream of volume number (2 for the second: the first is the update's destination):
    // empty, writable and seekable. Asked once for each, in order, when the archive first reaches
    // into it. Every volume may still be written until the update ends (the engine goes back to
    // complete headers), so each must stay open until then. Answer with a VolumeAnswer value;
    // Use with no stream fails the update.
    virtual HRESULT GetVolume(std::uint32_t number, std::int32_t* answer, IRandomAccessStream** volume) = 0;
    // Told once the archive is written whole, just before the update ends as a success: it
    // fills volumes 1 to count. A volume given after them was emptied (the engine cut the archive
    // back) and is no part of it.
    virtual HRESULT SetVolumeCount(std::uint32_t count) = 0;
};

struct IVolumeUpdate : IInspectable {
    static constexpr GUID iid = zorvik::rt::guid_from_name("Zorvik.IVolumeUpdate");
    static constexpr const char* name = "Zorvik.IVolumeUpdate";
    // UpdateAsync (RemoveAsync and AddAsync are it with one list empty), with the new archive
    // written in volumes of volumeSize bytes each, at least 1: the first into firstVolume, the
    // others asked of the callback's IUpdateVolumeProvider. After a failure or a cancel the
    // volumes hold no usable archive, and the caller discards every one it gave.
    virtual HRESULT UpdateInVolumesAsync(std::uint32_t removeCount, IArchiveItem** remove, std::uint32_t addCount, IArchiveAddable** add,
                                         IUpdateCallback* callback, std::uint64_t volumeSize, IRandomAccessStream* firstVolume,
                                         IAsyncOperation<UpdateResult>** operation) = 0;
};

}  // namespace Zorvik
