// A destination that takes every byte and keeps none: "test" decodes entries into it, so that
// the engine checks their data without anything being written.
#pragma once

#include <atomic>

#include "zorvik/runtime/implements.h"
#include "zorvik/runtime/streams_abi.h"

namespace Zorvik::Cli {

class DiscardStream final
    : public zorvik::rt::implements<DiscardStream, ABI::Windows::Storage::Streams::IRandomAccessStream,
                                    ABI::Windows::Storage::Streams::IOutputStream, ABI::Windows::Foundation::IClosable> {
public:
    static constexpr const char* runtime_class_name = "Zorvik.Cli.DiscardStream";

    HRESULT get_Size(std::uint64_t* size) override;
    HRESULT put_Size(std::uint64_t size) override;
    HRESULT GetInputStreamAt(std::uint64_t position, ABI::Windows::Storage::Streams::IInputStream** stream) override;
    HRESULT GetOutputStreamAt(std::uint64_t position, ABI::Windows::Storage::Streams::IOutputStream** stream) override;
    HRESULT get_Position(std::uint64_t* position) override;
    HRESULT Seek(std::uint64_t position) override;
    HRESULT CloneStream(ABI::Windows::Storage::Streams::IRandomAccessStream** stream) override;
    HRESULT get_CanRead(bool* canRead) override;
    HRESULT get_CanWrite(bool* canWrite) override;

    HRESULT WriteAsync(ABI::Windows::Storage::Streams::IBuffer* buffer, ABI::Windows::Foundation::IAsyncOperation<std::uint32_t>** operation) override;
    HRESULT FlushAsync(ABI::Windows::Foundation::IAsyncOperation<bool>** operation) override;

    HRESULT Close() override;

private:
    std::atomic<std::uint64_t> size_{0};
    std::atomic<std::uint64_t> position_{0};
};

}  // namespace Zorvik::Cli
