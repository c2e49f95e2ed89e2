// A destination whose bytes go, in the order they are written, to a sink: nowhere for "test"
// (the engine checks the data without anything being written), standard output, or memory.
// Seeking moves the position reported, not the data: extraction writes each entry from its
// start to its end, and an archive written into it is written without seeking, as the stream
// tells the component (ISequentialDestination).
#pragma once

#include <atomic>
#include <functional>
#include <span>

#include "zorvik/Update.h"
#include "zorvik/runtime/implements.h"
#include "zorvik/runtime/streams_abi.h"

namespace Zorvik::Cli {

class SequentialStream final : public zorvik::rt::implements<SequentialStream, ABI::Windows::Storage::Streams::IRandomAccessStream,
                                                             ABI::Windows::Storage::Streams::IOutputStream,
                                                             ABI::Windows::Foundation::IClosable, ISequentialDestination> {
public:
    static constexpr const char* runtime_class_name = "Zorvik.Cli.SequentialStream";

    // Takes every byte written; raises to fail the write.
    using Sink = std::function<void(std::span<const std::uint8_t>)>;
    // Drops every byte.
    SequentialStream();
    explicit SequentialStream(Sink sink);
    // Appends every byte to fd.
    static Sink WriteTo(int fd);

    HRESULT get_Size(std::uint64_t* size) override;
    HRESULT put_Size(std::uint64_t size) override;
    HRESULT GetInputStreamAt(std::uint64_t position, ABI::Windows::Storage::Streams::IInputStream** stream) override;
    HRESULT GetOutputStreamAt(std::uint64_t position, ABI::Windows::Storage::Streams::IOutputStream** stream) override;
    HRESULT get_Position(std::uint64_t* position) override;
    HRESULT Seek(std::uint64_t position) override;
    HRESULT CloneStream(ABI::Windows::Storage::Streams::IRandomAccessStream** stream) override;
    HRESULT get_CanRead(bool* canRead) override;
    HRESULT get_CanWrite(bool* canWrite) override;

    HRESULT WriteAsync(ABI::Windows::Storage::Streams::IBuffer* buffer,
                       ABI::Windows::Foundation::IAsyncOperation<std::uint32_t>** operation) override;
    HRESULT FlushAsync(ABI::Windows::Foundation::IAsyncOperation<bool>** operation) override;

    HRESULT Close() override;

private:
    Sink sink_;
    std::atomic<std::uint64_t> size_{0};
    std::atomic<std::uint64_t> position_{0};
};

}  // namespace Zorvik::Cli
