// zorvik::Stream: a random-access stream held by value, in memory or over a file, with whole
// reads and writes of bytes for the caller.
#pragma once

#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zorvik/projection/Error.h"
#include "zorvik/runtime/streams.h"

namespace zorvik {

using ABI::Windows::Storage::Streams::IRandomAccessStream;

class Stream {
public:
    Stream() = default;
    explicit Stream(zorvik::rt::com_ptr<IRandomAccessStream> stream) : stream_(std::move(stream)) {}

    // A new, empty stream in memory.
    static Stream memory() {
        try {
            return Stream(zorvik::rt::make_in_memory_stream());
        } catch (...) {
            detail::rethrow_as_error({"Stream::memory", {}, {}});
        }
    }
    // A stream in memory holding bytes, positioned at its start.
    static Stream memory(std::span<const std::byte> bytes) {
        Stream stream = memory();
        stream.write(bytes);
        stream.seek(0);
        return stream;
    }
    static Stream memory(std::string_view text) { return memory(std::as_bytes(std::span(text.data(), text.size()))); }

    // An existing regular file, for reading; path is the file name's bytes (UTF-8 or not).
    static Stream open_file(const std::string& path) {
        return file(path, ABI::Windows::Storage::FileAccessMode::Read, ABI::Windows::Storage::FileCreationDisposition::OpenExisting);
    }
    // A new file, for writing; an existing one is AlreadyExists unless replace.
    static Stream create_file(const std::string& path, bool replace = false) {
        using ABI::Windows::Storage::FileCreationDisposition;
        return file(path, ABI::Windows::Storage::FileAccessMode::ReadWrite,
                    replace ? FileCreationDisposition::CreateAlways : FileCreationDisposition::CreateNew);
    }

    std::uint64_t size() const {
        std::uint64_t value = 0;
        detail::check(stream_->get_Size(&value), "Stream::size");
        return value;
    }
    std::uint64_t position() const {
        std::uint64_t value = 0;
        detail::check(stream_->get_Position(&value), "Stream::position");
        return value;
    }
    void seek(std::uint64_t position) const { detail::check(stream_->Seek(position), "Stream::seek"); }

    // Every byte from the start, whatever the position; the position is left at the end.
    std::vector<std::byte> read_all() const {
        std::vector<std::byte> bytes;
        try {
            constexpr std::uint32_t kChunk = 1u << 20;
            const std::uint64_t total = size();
            bytes.reserve(static_cast<std::size_t>(total));
            zorvik::rt::com_ptr<ABI::Windows::Storage::Streams::IInputStream> input;
            zorvik::rt::check_hresult(stream_->GetInputStreamAt(0, input.put()));
            auto buffer = zorvik::rt::create_buffer(kChunk);
            for (;;) {
                zorvik::rt::com_ptr<ABI::Windows::Foundation::IAsyncOperation<ABI::Windows::Storage::Streams::IBuffer*>> reading;
                zorvik::rt::check_hresult(
                    input->ReadAsync(buffer.get(), kChunk, ABI::Windows::Storage::Streams::InputStreamOptions::None, reading.put()));
                const auto filled = zorvik::rt::get(reading);
                const std::uint32_t length = zorvik::rt::buffer_length(filled.get());
                if (length == 0) break;
                const auto* data = reinterpret_cast<const std::byte*>(zorvik::rt::buffer_data(filled.get()));
                bytes.insert(bytes.end(), data, data + length);
            }
        } catch (...) {
            detail::rethrow_as_error({"Stream::read_all", {}, {}});
        }
        return bytes;
    }
    std::string read_text() const {
        const std::vector<std::byte> bytes = read_all();
        return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

    // Writes bytes at the position, which moves past them.
    void write(std::span<const std::byte> bytes) const {
        try {
            constexpr std::size_t kChunk = 1u << 20;
            const std::uint64_t start = position();
            zorvik::rt::com_ptr<ABI::Windows::Storage::Streams::IOutputStream> output;
            zorvik::rt::check_hresult(stream_->GetOutputStreamAt(start, output.put()));
            for (std::size_t done = 0; done < bytes.size();) {
                const auto length = static_cast<std::uint32_t>(std::min(kChunk, bytes.size() - done));
                auto buffer = zorvik::rt::create_buffer(length);
                std::memcpy(zorvik::rt::buffer_data(buffer.get()), bytes.data() + done, length);
                zorvik::rt::check_hresult(buffer->put_Length(length));
                zorvik::rt::com_ptr<ABI::Windows::Foundation::IAsyncOperation<std::uint32_t>> writing;
                zorvik::rt::check_hresult(output->WriteAsync(buffer.get(), writing.put()));
                const std::uint32_t written = zorvik::rt::get(writing);
                if (written == 0) zorvik::rt::throw_hresult(E_FAIL);
                done += written;
            }
            zorvik::rt::com_ptr<ABI::Windows::Foundation::IAsyncOperation<bool>> flushing;
            zorvik::rt::check_hresult(output->FlushAsync(flushing.put()));
            zorvik::rt::get(flushing);
            seek(start + bytes.size());
        } catch (...) {
            detail::rethrow_as_error({"Stream::write", {}, {}});
        }
    }

    IRandomAccessStream* abi() const noexcept { return stream_.get(); }
    const zorvik::rt::com_ptr<IRandomAccessStream>& com() const noexcept { return stream_; }
    explicit operator bool() const noexcept { return static_cast<bool>(stream_); }

private:
    static Stream file(const std::string& path, ABI::Windows::Storage::FileAccessMode mode,
                       ABI::Windows::Storage::FileCreationDisposition disposition) {
        try {
            return Stream(zorvik::rt::open_file_stream(zorvik::rt::to_wide(path), mode, disposition));
        } catch (...) {
            detail::rethrow_as_error({"Stream::open_file", path, {}});
        }
    }

    zorvik::rt::com_ptr<IRandomAccessStream> stream_;
};

}  // namespace zorvik
