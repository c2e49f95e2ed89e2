// The store behind file-backed random-access streams, and opening them.
#pragma once

#include <string>

#include "stream_store.h"
#include "zorvik/runtime/unique_fd.h"
#include "zorvik/runtime/com_ptr.h"
#include "zorvik/runtime/streams.h"

namespace zorvik::rt {

class file_store final : public stream_store {
public:
    file_store(unique_fd file, bool writable) noexcept;

    const char* class_name() const noexcept override { return "Windows.Storage.Streams.FileRandomAccessStream"; }
    bool can_write() const noexcept override { return writable_; }
    std::uint32_t read_at(std::uint64_t position, std::uint8_t* bytes, std::uint32_t count) override;
    void write_at(std::uint64_t position, const std::uint8_t* bytes, std::uint32_t count) override;
    std::uint64_t size() override;
    void set_size(std::uint64_t size) override;
    void flush() override;

private:
    const unique_fd file_;
    const bool writable_;
};

// Opens a regular file, relative to directory (or AT_FDCWD), as a random-access stream.
// flags are open(2) flags beyond the access mode; new files get create_mode.
com_ptr<ABI::Windows::Storage::Streams::IRandomAccessStream> open_file_stream_at(int directory, const std::string& path,
                                                                                 ABI::Windows::Storage::FileAccessMode mode, int flags,
                                                                                 unsigned create_mode);

// A stream over its own duplicate of an open regular file's descriptor.
com_ptr<ABI::Windows::Storage::Streams::IRandomAccessStream> file_stream_on_descriptor(int fd, ABI::Windows::Storage::FileAccessMode mode);

}  // namespace zorvik::rt
