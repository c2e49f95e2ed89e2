#include "archive/VolumeOutStream.h"

#include <algorithm>
#include <limits>

#include "engine/SeekTarget.h"

namespace Zorvik::Impl {

namespace {
constexpr std::uint32_t kSeekSet = 0;
constexpr std::uint32_t kSeekCurrent = 1;
constexpr std::uint32_t kSeekEnd = 2;
}  // namespace

VolumeOutStream::VolumeOutStream(std::uint64_t volumeSize, Stream first, VolumeSource further)
    : volumeSize_(volumeSize), further_(std::move(further)) {
    if (volumeSize_ == 0) throw zorvik::rt::invalid_argument_error("a volume size of 0");
    volumes_.push_back({zorvik::rt::make<OutputStreamAdapter>(std::move(first), buffers_)});
}

HRESULT VolumeOutStream::Fail(HRESULT hr) noexcept {
    if (SUCCEEDED(failure_)) failure_ = FAILED(hr) ? hr : E_FAIL;
    return hr;
}

VolumeOutStream::Volume* VolumeOutStream::VolumeAt(std::uint64_t index) noexcept {
    if (FAILED(failure_)) return nullptr;
    // Numbers are 32 bits wide, and the last one stands for no volume at all.
    if (index >= std::numeric_limits<std::uint32_t>::max() - 1) {
        Fail(E_INVALIDARG);
        return nullptr;
    }
    while (volumes_.size() <= index) {
        const auto number = static_cast<std::uint32_t>(volumes_.size() + 1);
        try {
            Stream stream = further_(number);
            if (!stream) {
                Fail(E_FAIL);
                return nullptr;
            }
            volumes_.push_back({zorvik::rt::make<OutputStreamAdapter>(std::move(stream), buffers_)});
        } catch (...) {
            requestFailure_ = zorvik::rt::to_hresult();
            Fail(requestFailure_);
            return nullptr;
        }
    }
    return &volumes_[static_cast<std::size_t>(index)];
}

std::uint64_t VolumeOutStream::LengthIn(std::uint64_t index, std::uint64_t archiveLength) const noexcept {
    const std::uint64_t start = index * volumeSize_;
    return archiveLength <= start ? 0 : std::min(archiveLength - start, volumeSize_);
}

HRESULT VolumeOutStream::Resize(std::size_t index, std::uint64_t length) noexcept {
    Volume& volume = volumes_[index];
    if (volume.length == length) return S_OK;
    if (const HRESULT hr = volume.output->SetSize(length); hr != S_OK) return Fail(hr);
    volume.length = length;
    return S_OK;
}

HRESULT VolumeOutStream::Write(const void* data, std::uint32_t size, std::uint32_t* processedSize) {
    if (processedSize) *processedSize = 0;
    if (FAILED(failure_)) return failure_;
    if (size == 0) return S_OK;
    if (!data) return E_POINTER;

    const std::uint64_t index = position_ / volumeSize_;
    const std::uint64_t offset = position_ % volumeSize_;
    if (index != writing_) {
        // The volume left behind lands before another is asked for, and its buffers serve the next.
        if (const HRESULT hr = volumes_[writing_].output->Finish(); FAILED(hr)) return Fail(hr);
    }
    Volume* volume = VolumeAt(index);
    if (!volume) return failure_;
    writing_ = static_cast<std::size_t>(index);
    if (volume->position != offset) {
        if (const HRESULT hr = volume->output->Seek(static_cast<std::int64_t>(offset), kSeekSet, nullptr); hr != S_OK) return Fail(hr);
        volume->position = offset;
    }

    const auto chunk = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, volumeSize_ - offset));
    std::uint32_t written = 0;
    if (const HRESULT hr = volume->output->Write(data, chunk, &written); hr != S_OK) return Fail(hr);
    volume->position += written;
    volume->length = std::max(volume->length, volume->position);
    position_ += written;
    length_ = std::max(length_, position_);
    if (processedSize) *processedSize = written;
    return S_OK;
}

HRESULT VolumeOutStream::Seek(std::int64_t offset, std::uint32_t seekOrigin, std::uint64_t* newPosition) {
    std::uint64_t base = 0;
    switch (seekOrigin) {
    case kSeekSet: break;
    case kSeekCurrent: base = position_; break;
    case kSeekEnd: base = length_; break;
    default: return STG_E_INVALIDFUNCTION;
    }
    std::uint64_t target = 0;
    if (const HRESULT hr = SeekTarget(offset, base, target); FAILED(hr)) return hr;
    position_ = target;
    if (newPosition) *newPosition = target;
    return S_OK;
}

HRESULT VolumeOutStream::SetSize(std::uint64_t newSize) {
    if (FAILED(failure_)) return failure_;
    if (newSize > 0 && !VolumeAt((newSize - 1) / volumeSize_)) return failure_;
    for (std::size_t index = 0; index < volumes_.size(); ++index)
        if (const HRESULT hr = Resize(index, LengthIn(index, newSize)); hr != S_OK) return hr;
    length_ = newSize;
    return S_OK;
}

HRESULT VolumeOutStream::Finish() noexcept {
    for (std::size_t index = 0; index < volumes_.size(); ++index) {
        // A volume the engine skipped over is as long as the others, even where it wrote nothing.
        if (SUCCEEDED(failure_)) Resize(index, LengthIn(index, length_));
        if (const HRESULT hr = volumes_[index].output->Finish(); FAILED(hr)) Fail(hr);
    }
    return failure_;
}

std::uint32_t VolumeOutStream::VolumeCount() const noexcept {
    return length_ == 0 ? 1 : static_cast<std::uint32_t>((length_ - 1) / volumeSize_ + 1);
}

}  // namespace Zorvik::Impl
