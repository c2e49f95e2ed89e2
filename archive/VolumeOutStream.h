// The engine's output cut into volumes of one size: what the engine writes at offset p of the
// archive lands in volume p / size, at p % size. The engine's handlers write one stream and
// never hear of volumes (its own front end splits that stream the same way), so any format can
// be written in volumes.
//
// The first volume is the update's destination; each further one is asked for when the archive
// first reaches into it, by a write or a size. The handlers seek back (the 7z start header, a zip
// entry's local header, a wim stream found to be stored already, then cut off), possibly into an
// earlier volume, so every volume stays writable until Finish. Each volume has its own
// write-behind adapter; one that the engine leaves hands its tail over and gives its buffers back,
// so that memory does not grow with the number of volumes.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "archive/OutputStreamAdapter.h"

namespace Zorvik::Impl {

class VolumeOutStream final : public ComponentObject<VolumeOutStream, Engine::IOutStream> {
public:
    using Stream = zorvik::rt::com_ptr<ABI::Windows::Storage::Streams::IRandomAccessStream>;
    // Gives volume number (2, 3, ...), or null when there is none; what it throws is kept as the
    // request's failure.
    using VolumeSource = std::function<Stream(std::uint32_t number)>;

    // volumeSize is at least 1.
    VolumeOutStream(std::uint64_t volumeSize, Stream first, VolumeSource further);

    // A failure sticks: after a lost write or a volume that could not be had, nothing more is
    // accepted, in any volume.
    HRESULT Write(const void* data, std::uint32_t size, std::uint32_t* processedSize) override;
    // Only moves the position: the volume it lands in is reached on the next write.
    HRESULT Seek(std::int64_t offset, std::uint32_t seekOrigin, std::uint64_t* newPosition) override;
    HRESULT SetSize(std::uint64_t newSize) override;

    // Gives each volume its exact part of the archive (a volume past the end is emptied), hands
    // over every tail and waits for it; the first failure of any write, request or cut (S_OK when
    // the whole archive landed).
    HRESULT Finish() noexcept;
    // The volumes the archive fills: at least 1.
    std::uint32_t VolumeCount() const noexcept;
    // What the volume source threw (S_OK when it threw nothing): the engine heard of it only as
    // a failed write, so the operation raises it itself.
    HRESULT RequestFailure() const noexcept { return requestFailure_; }

private:
    struct Volume {
        zorvik::rt::com_ptr<OutputStreamAdapter> output;
        std::uint64_t position = 0;  // where the adapter stands
        std::uint64_t length = 0;    // how far the stream reaches
    };

    // Volume index, asked for (with those before it) when not yet given; null after a failure.
    Volume* VolumeAt(std::uint64_t index) noexcept;
    // The part of an archive of the given length that volume index holds.
    std::uint64_t LengthIn(std::uint64_t index, std::uint64_t archiveLength) const noexcept;
    // Cuts or extends volume index to length.
    HRESULT Resize(std::size_t index, std::uint64_t length) noexcept;
    // Keeps the first failure and returns hr.
    HRESULT Fail(HRESULT hr) noexcept;

    const std::uint64_t volumeSize_;
    const VolumeSource further_;
    const std::shared_ptr<OutputBuffers> buffers_ = std::make_shared<OutputBuffers>();
    std::vector<Volume> volumes_;
    std::size_t writing_ = 0;  // the volume written last
    std::uint64_t position_ = 0;
    std::uint64_t length_ = 0;
    HRESULT failure_ = S_OK;
    HRESULT requestFailure_ = S_OK;
};

}  // namespace Zorvik::Impl
