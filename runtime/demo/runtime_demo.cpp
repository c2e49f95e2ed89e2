// A short tour of the platform stand-in: a file in the private temporary folder, written and
// read back through asynchronous stream operations on the thread pool.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "zorvik/runtime/storage.h"
#include "zorvik/runtime/win32.h"

using namespace zorvik::rt;
using namespace ABI::Windows::Storage;

int main() {
    try {
        auto folder = temporary_folder();
        auto file = create_file(folder.get(), L"demo.txt", CreationCollisionOption::GenerateUniqueName);
        std::printf("temporary file: %s\n", to_utf8(item_path(file).view()).c_str());

        constexpr std::string_view text = "Hello from the runtime: written asynchronously, read back the same way.\n";
        auto stream = open_stream(file.get(), FileAccessMode::ReadWrite);
        auto outgoing = create_buffer(static_cast<std::uint32_t>(text.size()));
        std::memcpy(buffer_data(outgoing.get()), text.data(), text.size());
        check_hresult(outgoing->put_Length(static_cast<std::uint32_t>(text.size())));
        com_ptr<Streams::IOutputStream> output = stream.as<Streams::IOutputStream>();
        com_ptr<IAsyncOperation<std::uint32_t>> writing;
        check_hresult(output->WriteAsync(outgoing.get(), writing.put()));
        std::printf("wrote %u bytes\n", get(writing));
        com_ptr<IAsyncOperation<bool>> flushing;
        check_hresult(output->FlushAsync(flushing.put()));
        get(flushing);

        check_hresult(stream->Seek(0));
        auto incoming = create_buffer(4096);
        com_ptr<IAsyncOperation<Streams::IBuffer*>> reading;
        check_hresult(
            stream.as<Streams::IInputStream>()->ReadAsync(incoming.get(), 4096, Streams::InputStreamOptions::None, reading.put()));
        const auto read = get(reading);
        std::printf("read %u bytes: %.*s", buffer_length(read.get()), static_cast<int>(buffer_length(read.get())),
                    reinterpret_cast<const char*>(buffer_data(read.get())));
        check_hresult(stream.as<ABI::Windows::Foundation::IClosable>()->Close());
        DeleteFileW(std::wstring(item_path(file).view()).c_str());
        return 0;
    } catch (const hresult_error& error) {
        std::fprintf(stderr, "runtime_demo: failed with 0x%08X\n", static_cast<unsigned>(error.code()));
        return 1;
    }
}
